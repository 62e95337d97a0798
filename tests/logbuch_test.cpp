#include "CardFiles.h"
#include "TestHelpers.h"

#include "api/FlatExports.h"
#include "watchguard/Logbuch.h"

#include <regex>
#include <thread>

using namespace card_files;

namespace
{

const ULONGLONG TicksPerSecond = 10000000;
const ULONGLONG TicksPerDay = 24 * 60 * 60 * TicksPerSecond;

ULONGLONG g_clock = 0;

void WINAPI TestClock(FILETIME* pNow)
{
    pNow->dwLowDateTime = static_cast<DWORD>(g_clock);
    pNow->dwHighDateTime = static_cast<DWORD>(g_clock >> 32);
}

FILETIME ToFileTime(ULONGLONG ticks)
{
    return FILETIME{ static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32) };
}

SYSTEMTIME LocalTimeAt(ULONGLONG ticks)
{
    FILETIME time = ToFileTime(ticks);
    SYSTEMTIME utc, local;
    ::FileTimeToSystemTime(&time, &utc);
    ::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
    return local;
}

std::wstring LogName(ULONGLONG ticks)
{
    SYSTEMTIME local = LocalTimeAt(ticks);
    wchar_t name[64];
    swprintf(name, 64, L"Sectorix %04d-%02d-%02d.log", local.wYear, local.wMonth, local.wDay);
    return name;
}

// The stamp that starts a line written at the given time.
std::string Stamp(ULONGLONG ticks)
{
    SYSTEMTIME local = LocalTimeAt(ticks);
    char stamp[32];
    snprintf(stamp, sizeof(stamp), "%02d.%02d.%04d\t%02d:%02d:%02d.%03d\t", local.wDay, local.wMonth, local.wYear,
             local.wHour, local.wMinute, local.wSecond, local.wMilliseconds);
    return stamp;
}

void SetLastWrite(const std::wstring& path, ULONGLONG ticks)
{
    HANDLE hFile = ::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    FILETIME time = ToFileTime(ticks);
    EXPECT_TRUE(::SetFileTime(hFile, nullptr, nullptr, &time));
    ::CloseHandle(hFile);
}

// An old log file of 2020-01-<day>, last written at the given time.
std::wstring OldLog(const std::wstring& folder, int day, ULONGLONG lastWrite)
{
    wchar_t name[64];
    swprintf(name, 64, L"Sectorix 2020-01-%02d.log", day);
    HANDLE hFile = ::CreateFileW((folder + L"\\" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                                 nullptr);
    ::CloseHandle(hFile);
    SetLastWrite(folder + L"\\" + name, lastWrite);
    return name;
}

class LogbuchTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_root = MakeTempFolder(L"log");
        m_folder = m_root + L"\\logs";
        ::CreateDirectoryW(m_folder.c_str(), nullptr);
        SYSTEMTIME start = { 2024, 3, 2, 5, 13, 7, 9, 45 };
        FILETIME time;
        ::SystemTimeToFileTime(&start, &time);
        g_clock = (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
        Logbuch().SetClock(&TestClock);
    }

    void TearDown() override
    {
        Logbuch().SetFolder(L"");
        Logbuch().SetClock(&::GetSystemTimeAsFileTime);
        RemoveTree(m_root);
    }

    static TLogbuch& Logbuch() { return TLogbuch::Instance(); }

    std::wstring TodayPath() const { return m_folder + L"\\" + LogName(g_clock); }

    std::wstring m_root;
    std::wstring m_folder;
};

}

TEST_F(LogbuchTest, LinesAreStampedUtf8WithByteOrderMarkAndCrLfAndAppendedToTheirDaysFile)
{
    const std::string Bom = "\xEF\xBB\xBF";
    ASSERT_TRUE(Logbuch().SetFolder(m_folder.c_str()));
    EXPECT_EQ(m_folder, Logbuch().GetFolder().GetString());
    Logbuch().Write(L"Sectorix\t\tVolume added\tE:");
    ASSERT_TRUE(Logbuch().SetFolder(m_folder.c_str()));
    Logbuch().WriteFormat(L"Sectorix\t%s\tGr\u00f6\u00dfe %d \u20ac", L"OnCmdOpen", 512);
    std::wstring firstDay = TodayPath();
    std::string expected = Bom + Stamp(g_clock) + "Sectorix\t\tVolume added\tE:\r\n" + Stamp(g_clock) +
                           "Sectorix\tOnCmdOpen\tGr\xC3\xB6\xC3\x9F" "e 512 \xE2\x82\xAC\r\n";

    g_clock += TicksPerDay;
    Logbuch().Write(L"after midnight");
    EXPECT_EQ((std::set<std::wstring>{ LogName(g_clock - TicksPerDay), LogName(g_clock) }), FolderNames(m_folder));
    EXPECT_EQ(expected, ReadText(firstDay));
    EXPECT_EQ(Bom + Stamp(g_clock) + "after midnight\r\n", ReadText(TodayPath()));

    // Other programs may delete the file while it is open.
    EXPECT_TRUE(::DeleteFileW(TodayPath().c_str())) << ::GetLastError();
}

// The seven newest files always stay; older ones go once their last write
// lies more than seven days back, and only in the folder being set.
// Anything matching the name counts.
TEST_F(LogbuchTest, CleanUpKeepsSevenAndDeletesOnlyWhatIsOlderThanSevenDays)
{
    std::wstring other = m_root + L"\\other";
    ::CreateDirectoryW(other.c_str(), nullptr);
    for (int day = 1; day <= 10; ++day)
    {
        if (day <= 7)
            OldLog(m_folder, day, g_clock - 400 * TicksPerDay);
        OldLog(other, day, g_clock - (30 - day) * TicksPerDay);
    }
    ASSERT_TRUE(Logbuch().SetFolder(m_folder.c_str()));
    EXPECT_EQ(8u, FolderNames(m_folder).size());
    ASSERT_TRUE(Logbuch().SetFolder(other.c_str()));
    EXPECT_EQ(8u, FolderNames(m_folder).size());
    std::set<std::wstring> names = FolderNames(other);
    EXPECT_EQ(8u, names.size());
    EXPECT_EQ(0u, names.count(L"Sectorix 2020-01-03.log"));
    EXPECT_EQ(1u, names.count(L"Sectorix 2020-01-04.log"));

    // Seven recent files, one exactly seven days old, one a second older and
    // a folder of a log file's name: only the file a second older goes.
    RemoveTree(m_folder);
    ::CreateDirectoryW(m_folder.c_str(), nullptr);
    for (int day = 1; day <= 7; ++day)
        OldLog(m_folder, day, g_clock - day * 3600 * TicksPerSecond);
    std::wstring edge = OldLog(m_folder, 8, g_clock - 7 * TicksPerDay);
    std::wstring older = OldLog(m_folder, 9, g_clock - 7 * TicksPerDay - TicksPerSecond);
    std::wstring folder = L"Sectorix 2019-12-31.log";
    ASSERT_TRUE(::CreateDirectoryW((m_folder + L"\\" + folder).c_str(), nullptr));
    SetLastWrite(m_folder + L"\\" + folder, g_clock - 100 * TicksPerDay);
    ASSERT_TRUE(Logbuch().SetFolder(m_folder.c_str()));
    names = FolderNames(m_folder);
    EXPECT_EQ(10u, names.size());
    EXPECT_EQ(1u, names.count(edge));
    EXPECT_EQ(0u, names.count(older));
    EXPECT_EQ(1u, names.count(folder));
}

TEST_F(LogbuchTest, WithoutAUsableFolderLinesAreDroppedUntilThereIsOne)
{
    EXPECT_TRUE(Logbuch().SetFolder(L""));
    EXPECT_FALSE(Logbuch().IsEnabled());
    Logbuch().WriteFormat(L"lost %s", L"too");
    std::wstring missing = m_root + L"\\missing";
    EXPECT_FALSE(SetLogFolder(missing.c_str()));
    Logbuch().Write(L"dropped");
    EXPECT_EQ(std::set<std::wstring>{ L"logs" }, FolderNames(m_root));
    EXPECT_TRUE(FolderNames(m_folder).empty());
    EXPECT_TRUE(SetLogFolder(m_folder.c_str()));
    Logbuch().Write(L"kept");
    EXPECT_NE(std::string::npos, ReadText(TodayPath()).find("\tkept\r\n"));
}

TEST_F(LogbuchTest, WatchguardCreatesAMissingFolderOneLevelDeep)
{
    CWatchguard* pWatchguard = InitWatchguard();
    ASSERT_NE(nullptr, pWatchguard);
    std::wstring created = m_root + L"\\created";
    pWatchguard->SetLogFolder(created.c_str());
    EXPECT_EQ(created, pWatchguard->GetLogFolder().GetString());
    EXPECT_EQ(1u, FolderNames(created).size());

    std::wstring tooDeep = m_root + L"\\no\\such";
    pWatchguard->SetLogFolder(tooDeep.c_str());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(tooDeep.c_str()));
    EXPECT_EQ(tooDeep, Logbuch().GetFolder().GetString());
    testing_helpers::StopWatchguard(pWatchguard);
}

TEST_F(LogbuchTest, LinesOfConcurrentWritersStayWholeAcrossFolderSwitches)
{
    Logbuch().SetClock(&::GetSystemTimeAsFileTime);
    ASSERT_TRUE(Logbuch().SetFolder(m_folder.c_str()));
    const int writers = 4;
    const int linesEach = 200;
    std::vector<std::thread> threads;
    for (int w = 0; w < writers; ++w)
    {
        threads.emplace_back([w] {
            for (int i = 0; i < linesEach; ++i)
                TLogbuch::Instance().WriteFormat(L"Sectorix\twriter %d\tline %03d of a longer text", w, i);
        });
    }
    std::thread switcher([this] {
        for (int i = 0; i < 20; ++i)
            TLogbuch::Instance().SetFolder(m_folder.c_str());
    });
    for (std::thread& t : threads)
        t.join();
    switcher.join();
    Logbuch().SetFolder(L"");

    std::string content = LogText(m_folder);
    std::regex line("(\xEF\xBB\xBF)?\\d\\d\\.\\d\\d\\.\\d{4}\t\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\tSectorix\twriter \\d\t"
                    "line \\d{3} of a longer text\r");
    size_t lines = 0;
    for (size_t start = 0, end; (end = content.find('\n', start)) != std::string::npos; start = end + 1, ++lines)
        EXPECT_TRUE(std::regex_match(content.substr(start, end - start), line)) << content.substr(start, end - start);
    EXPECT_EQ(static_cast<size_t>(writers * linesEach), lines);
}
