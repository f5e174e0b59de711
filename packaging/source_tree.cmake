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

# The newest modification time of the files under <source_dir>, its build folder left
# out, in seconds since 1970: the commit's time in a tree unpacked from git archive.
function(tovak_newest_source_time out source_dir)
    file(GLOB entries LIST_DIRECTORIES true "${source_dir}/*")
    set(newest 0)
    foreach(entry IN LISTS entries)
        get_filename_component(name "${entry}" NAME)
        if(name STREQUAL "build")
            continue()
        endif()
        set(files "${entry}")
        if(IS_DIRECTORY "${entry}")
            file(GLOB_RECURSE files LIST_DIRECTORIES false "${entry}/*")
        endif()
        foreach(path IN LISTS files)
            file(TIMESTAMP "${path}" time "%s" UTC)
            if(time GREATER newest)
                set(newest ${time})
            endif()
        endforeach()
    endforeach()
    set(${out} ${newest} PARENT_SCOPE)
endfunction()

# Sets ENV{SOURCE_DATE_EPOCH}, which the archivers and string(TIMESTAMP) read, unless
# the builder set it: the commit's time in a git checkout, else the newest time of the
# source files, so a tree unpacked from the source archive gives the same packages.
function(tovak_source_date_epoch git source_dir)
    if(DEFINED ENV{SOURCE_DATE_EPOCH})
        return()
    endif()
    tovak_git_checkout(checkout "${git}" "${source_dir}")
    set(epoch "")
    if(checkout)
        execute_process(COMMAND "${git}" log -1 --format=%ct
            WORKING_DIRECTORY "${source_dir}"
            OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    endif()
    if(NOT epoch MATCHES "^[0-9]+$")
        tovak_newest_source_time(epoch "${source_dir}")
        message(STATUS "Not a git checkout: the packages carry the time of the newest "
            "source file (${epoch})")
    endif()
    set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
endfunction()
