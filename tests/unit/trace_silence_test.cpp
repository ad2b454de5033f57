// The product's own Trace, not the recorder the other tests link: every
// message the program traces, with arguments of the types it passes, must
// produce nothing at all, on the standard streams or in a file. The machine's
// disks must not be written, and nobody reads a console there.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "common/tovrin.h"

namespace
{

std::string Read(int fd)
{
    std::string text;
    char buffer[256];
    lseek(fd, 0, SEEK_SET);
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, (size_t)got);
    }
    return text;
}

size_t EntriesIn(const char *folder)
{
    size_t count = 0;
    DIR *dir = opendir(folder);
    if (dir == nullptr) {
        return 0;
    }
    while (const dirent *entry = readdir(dir)) {
        count += std::string(entry->d_name) != "." && std::string(entry->d_name) != "..";
    }
    closedir(dir);
    return count;
}

void TraceEverything()
{
    const WCHAR name[] = u"\\Device\\HarddiskVolume1";
    const LONGLONG total = 3 * 1048576LL + 5;
    Trace("Ewf API Sample\n\n");
    Trace("Total Ram Data Size : %u bytes\n", total);
    Trace("Total Ram Data Size : %u MB\n", total / 1048576);
    Trace("%c: = %s\n", (WCHAR)'C', name);
    for (const char *failure :
         {"EwfMgrGetProtectedVolumeList failed LE = %u\n",
          "EwfMgrGetDriveLetterFromVolumeName failed LE = %u\n",
          "EwfMgrOpenProtected failed LE = %u\n", "EwfMgrGetProtectedVolumeConfig failed LE = %u\n",
          "EwfMgrClose failed LE = %u\n", "EwfMgrCommit failed LE = %u\n",
          "EwfMgrEnable failed LE = %u\n"}) {
        Trace(failure, (DWORD)5);
    }
    Trace("EwfMgrCommit succeeded\n");
    Trace("EwfMgrEnable succeeded\n");
}

TEST(Trace, ProducesNoOutputAnywhere)
{
    char folder[] = "/tmp/trace-silence-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(folder));
    char here[4096];
    ASSERT_NE(nullptr, getcwd(here, sizeof here));
    ASSERT_EQ(0, chdir(folder));

    // Both standard streams into a file of their own for the duration.
    std::string captured = std::string(folder) + "/../" + (folder + 5) + ".out";
    int sink = open(captured.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(sink, 0);
    fflush(stdout);
    fflush(stderr);
    int savedOut = dup(1);
    int savedErr = dup(2);
    dup2(sink, 1);
    dup2(sink, 2);

    TraceEverything();

    fflush(stdout);
    fflush(stderr);
    dup2(savedOut, 1);
    dup2(savedErr, 2);
    close(savedOut);
    close(savedErr);
    std::string output = Read(sink);
    close(sink);
    unlink(captured.c_str());

    size_t files = EntriesIn(folder);
    EXPECT_EQ(0, chdir(here));
    rmdir(folder);
    EXPECT_EQ("", output) << "Trace wrote to the standard streams";
    EXPECT_EQ(0u, files) << "Trace left files in the working folder";
}

} // namespace
