# What the packages take from the source tree they are built from: whether it is a git
# checkout of its own, and the time every package carries. Used at build time and by
# cpack (cpack_options.cmake).

# Sets <out> to TRUE when <source_dir> is the top of a git checkout and <git> runs there.
# A source archive unpacked inside some other checkout is not one: that checkout's
# commit says nothing about it.
function(tovak_git_checkout out git source_dir)
    set(checkout FALSE)
    if(git)
        execute_process(COMMAND "${git}" rev-parse --show-toplevel
            WORKING_DIRECTORY "${source_dir}"
            OUTPUT_VARIABLE top RESULT_VARIABLE git_result
            OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        if(git_result EQUAL 0)
            file(REAL_PATH "${top}" top)
            file(REAL_PATH "${source_dir}" source)
            if(top STREQUAL source)
                set(checkout TRUE)
            endif()
        endif()
    endif()
    set(${out} ${checkout} PARENT_SCOPE)
endfunction()

# The file of the source archive that holds the time its packages carry, written into
# the archive by source_archive.py; and the time of a tree that has neither it nor git,
# 1980-01-01 00:00:00 UTC, the earliest a zip entry can hold.
set(TOVAK_SOURCE_TIME_FILE SOURCE_DATE_EPOCH)
set(TOVAK_FIXED_SOURCE_TIME 315532800)

# Sets <out> to <text> where it is a time the packages can carry (whole seconds since
# 1970, at most ten digits), else stops with <what> named.
function(tovak_checked_time out text what)
    string(LENGTH "${text}" digits)
    if(NOT text MATCHES "^[0-9]+$" OR digits GREATER 10)
        message(FATAL_ERROR "${what} holds \"${text}\", not a time in seconds since 1970")
    endif()
    set(${out} ${text} PARENT_SCOPE)
endfunction()

# Sets ENV{SOURCE_DATE_EPOCH}, which the archivers and string(TIMESTAMP) read, unless
# the builder set it: in a tree unpacked from the source archive the time its
# SOURCE_DATE_EPOCH file holds, in a git checkout the commit's time, else the fixed time
# above, said. The file comes before git, so an unpacked archive committed into some
# other repository still builds the release; no file time is ever read, so neither a
# build folder nor a stray file changes the packages.
function(tovak_source_date_epoch git source_dir)
    if(NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
        tovak_checked_time(builder_time "$ENV{SOURCE_DATE_EPOCH}" "SOURCE_DATE_EPOCH")
        return()
    endif()
    set(time_file "${source_dir}/${TOVAK_SOURCE_TIME_FILE}")
    if(EXISTS "${time_file}")
        file(READ "${time_file}" text LIMIT 64)
        string(STRIP "${text}" text)
        tovak_checked_time(epoch "${text}" "${time_file}")
    else()
        tovak_git_checkout(checkout "${git}" "${source_dir}")
        set(epoch "")
        if(checkout)
            execute_process(COMMAND "${git}" log -1 --format=%ct
                WORKING_DIRECTORY "${source_dir}"
                OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        endif()
        if(NOT epoch MATCHES "^[0-9]+$")
            set(epoch ${TOVAK_FIXED_SOURCE_TIME})
            message(WARNING "Neither a git checkout nor a source archive's "
                "${TOVAK_SOURCE_TIME_FILE} file in ${source_dir}: the packages carry the "
                "fixed time ${epoch} (1980-01-01 00:00:00 UTC)")
        endif()
    endif()
    set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
endfunction()
