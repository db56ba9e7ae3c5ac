// The local time on the real clock follows a change of the time zone while the program runs:
// of TZ in its environment, and of the system's zone file (what timedatectl set-timezone and
// a laptop's automatic zone change replace).

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "backends/posix/PosixSystem.h"

namespace {

// The minute of the day a reading shows.
int MinuteOfDay(const SystemTime& t) { return t.wHour * 60 + t.wMinute; }

// How far the second reading's wall clock is ahead of the first's, in minutes, modulo a day.
// The two readings lie well within a minute of each other, so a zone's offset shows as that
// offset or one minute more.
int MinutesAhead(const SystemTime& first, const SystemTime& second)
{
    return ((MinuteOfDay(second) - MinuteOfDay(first)) % 1440 + 1440) % 1440;
}

// Puts TZ back as it was when the test ends.
class SavedTz {
public:
    SavedTz()
    {
        if (const char* tz = std::getenv("TZ"))
            m_tz = tz;
    }
    ~SavedTz()
    {
        if (m_tz)
            setenv("TZ", m_tz->c_str(), 1);
        else
            unsetenv("TZ");
    }
    SavedTz(const SavedTz&) = delete;
    SavedTz& operator=(const SavedTz&) = delete;

private:
    std::optional<std::string> m_tz;
};

TEST(LocalTime, FollowsAChangeOfTzWhileRunning)
{
    SavedTz saved;
    PosixSystem system;
    setenv("TZ", "UTC0", 1);
    const SystemTime utc = system.GetLocalTime();
    setenv("TZ", "<+0530>-5:30", 1);
    const SystemTime india = system.GetLocalTime();
    setenv("TZ", "<-0700>7", 1);
    const SystemTime mountain = system.GetLocalTime();
    const int ahead = MinutesAhead(utc, india);
    EXPECT_TRUE(ahead == 330 || ahead == 331) << ahead << " minutes";
    const int behind = MinutesAhead(mountain, india);
    EXPECT_TRUE(behind == 750 || behind == 749) << behind << " minutes";
}

// Exit codes of the child that swaps the zone file in a mount namespace of its own.
constexpr int kFollowed = 0;
constexpr int kNotFollowed = 1;
constexpr int kNoNamespace = 2;

// In a private mount namespace, so that no other process on the machine sees it: the zone
// file is replaced under a running program, with TZ unset as on a desktop.
int SwapZoneFileAndRead()
{
    unsetenv("TZ");
    const char* const localtime = "/etc/localtime";
    const char* const east = "/usr/share/zoneinfo/Etc/GMT-9";  // nine hours ahead of UTC
    const char* const west = "/usr/share/zoneinfo/Etc/GMT+5";  // five hours behind
    struct stat st { };
    if (::stat(localtime, &st) != 0 || ::stat(east, &st) != 0 || ::stat(west, &st) != 0)
        return kNoNamespace;
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return kNoNamespace;
    if (::mount(west, localtime, nullptr, MS_BIND, nullptr) != 0)
        return kNoNamespace;
    PosixSystem system;
    const SystemTime before = system.GetLocalTime();
    if (::mount(east, localtime, nullptr, MS_BIND, nullptr) != 0)
        return kNoNamespace;
    const SystemTime after = system.GetLocalTime();
    const int ahead = MinutesAhead(before, after);
    return ahead == 14 * 60 || ahead == 14 * 60 + 1 ? kFollowed : kNotFollowed;
}

TEST(LocalTime, FollowsAChangeOfTheSystemZoneFileWhileRunning)
{
    SavedTz saved;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0) << std::strerror(errno);
    if (child == 0)
        ::_exit(SwapZoneFileAndRead());
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == kNoNamespace)
        GTEST_SKIP() << "no mount namespace of its own, or no /etc/localtime and zone files, here";
    EXPECT_EQ(WEXITSTATUS(status), kFollowed) << "the local time stayed in the zone it was first read in";
}

}  // namespace
