#include "pty_link.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <termios.h>

#include <cerrno>
#include <fstream>

#include "test_line.h"

namespace tovaksim {
namespace {

std::string LinkTarget(const std::string& link) {
    char target[4096] = {};
    ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
    return length > 0 ? std::string(target, static_cast<size_t>(length)) : "";
}

TEST(PtyLink, PassesEveryByteUnchangedAndEchoesNothing) {
    TempFolder folder;
    PtyLink link;
    std::string error;
    ASSERT_TRUE(link.Open(folder.Path() + "/com1", error)) << error;
    UniqueFd program = OpenProgramEnd(folder.Path() + "/com1");
    ASSERT_TRUE(program.Valid());

    // CR, ^C, ^D, ^S, DEL and LF would be translated, swallowed or echoed by a
    // terminal in its default mode.
    const std::string bytes("SR;\r\x03\x04\x13\x7f\n\xff;", 12);
    ASSERT_EQ(write(program.Get(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    EXPECT_EQ(ReadAvailable(link.MasterFd(), 500, bytes.size()), bytes);
    EXPECT_EQ(ReadAvailable(program.Get(), 50), "");

    ASSERT_EQ(write(link.MasterFd(), bytes.data(), bytes.size()),
              static_cast<ssize_t>(bytes.size()));
    EXPECT_EQ(ReadAvailable(program.Get(), 500, bytes.size()), bytes);
}

TEST(PtyLink, MasterStaysReadableAfterTheProgramClosesThePort) {
    TempFolder folder;
    PtyLink link;
    std::string error;
    ASSERT_TRUE(link.Open(folder.Path() + "/com1", error)) << error;
    {
        UniqueFd program = OpenProgramEnd(folder.Path() + "/com1");
        ASSERT_TRUE(program.Valid());
    }
    char byte;
    errno = 0;
    EXPECT_EQ(read(link.MasterFd(), &byte, 1), -1);
    EXPECT_EQ(errno, EAGAIN) << "the master reports a hang-up between the program's opens";
}

TEST(PtyLink, ReplacesAnOldSymlinkButNeverAFile) {
    TempFolder folder;
    const std::string linkPath = folder.Path() + "/com1";
    ASSERT_EQ(symlink("/nonexistent", linkPath.c_str()), 0);
    PtyLink link;
    std::string error;
    ASSERT_TRUE(link.Open(linkPath, error)) << error;
    EXPECT_EQ(LinkTarget(linkPath), link.SlavePath());

    const std::string filePath = folder.Path() + "/plain";
    std::ofstream(filePath) << "keep me";
    PtyLink other;
    EXPECT_FALSE(other.Open(filePath, error));
    struct stat info {};
    ASSERT_EQ(lstat(filePath.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
}

TEST(PtyLink, CloseRemovesOnlyItsOwnLink) {
    TempFolder folder;
    const std::string linkPath = folder.Path() + "/com1";
    PtyLink first;
    PtyLink second;
    std::string error;
    ASSERT_TRUE(first.Open(linkPath, error)) << error;
    ASSERT_TRUE(second.Open(linkPath, error)) << error;
    first.Close();
    EXPECT_EQ(LinkTarget(linkPath), second.SlavePath());
    second.Close();
    struct stat info {};
    EXPECT_NE(lstat(linkPath.c_str(), &info), 0);
}

TEST(PtyLink, OpensAnExistingDeviceRawOrSaysWhyNot) {
    PtyLink link;
    std::string error;
    EXPECT_FALSE(link.OpenDevice("/nonexistent/ttyUSB0", error));
    EXPECT_EQ(error, "cannot open /nonexistent/ttyUSB0: No such file or directory");
    TempFolder folder;
    std::ofstream(folder.Path() + "/plain") << "not a line";
    EXPECT_FALSE(link.OpenDevice(folder.Path() + "/plain", error));
    EXPECT_EQ(error, folder.Path() + "/plain is not a serial device");
    EXPECT_FALSE(link.IsOpen());

    // Another program's pty stands for a serial device: its slave is ours.
    UniqueFd other(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK));
    ASSERT_TRUE(other.Valid());
    ASSERT_EQ(grantpt(other.Get()), 0);
    ASSERT_EQ(unlockpt(other.Get()), 0);
    ASSERT_TRUE(link.OpenDevice(ptsname(other.Get()), error)) << error;
    EXPECT_TRUE(link.IsDevice());
    termios mode{};
    ASSERT_EQ(tcgetattr(link.MasterFd(), &mode), 0);
    EXPECT_EQ(cfgetospeed(&mode), static_cast<speed_t>(B115200));
    EXPECT_EQ(mode.c_cflag & (CSIZE | PARENB | CSTOPB | CLOCAL),
              static_cast<tcflag_t>(CS8 | CLOCAL));

    const std::string bytes("SR;\r\x03\x04\n;", 8);
    ASSERT_EQ(write(other.Get(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    EXPECT_EQ(ReadAvailable(link.MasterFd(), 500, bytes.size()), bytes);
    EXPECT_EQ(ReadAvailable(other.Get(), 50), "") << "no echo";
    link.Close();
    EXPECT_FALSE(link.IsDevice());
}

}  // namespace
}  // namespace tovaksim
