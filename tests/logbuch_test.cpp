#include "api/FlatExports.h"
#include "Sectorix/Watchguard.h"
#include "watchguard/Logbuch.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace
{

const ULONGLONG TicksPerSecond = 10000000;
const ULONGLONG SecondsPerDay = 24 * 60 * 60;

ULONGLONG g_clock = 0;

void WINAPI TestClock(FILETIME* pNow)
{
    pNow->dwLowDateTime = static_cast<DWORD>(g_clock);
    pNow->dwHighDateTime = static_cast<DWORD>(g_clock >> 32);
}

ULONGLONG ToTicks(const SYSTEMTIME& utc)
{
    FILETIME time;
    ::SystemTimeToFileTime(&utc, &time);
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

SYSTEMTIME LocalTimeAt(ULONGLONG ticks)
{
    FILETIME time = { static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32) };
    SYSTEMTIME utc, local;
    ::FileTimeToSystemTime(&time, &utc);
    ::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
    return local;
}

std::wstring LogName(const SYSTEMTIME& local)
{
    wchar_t name[64];
    swprintf(name, 64, L"Sectorix %04d-%02d-%02d.log", local.wYear, local.wMonth, local.wDay);
    return name;
}

std::string NarrowPath(const std::wstring& path)
{
    return std::string(path.begin(), path.end());
}

std::string ReadAll(const std::wstring& path)
{
    std::ifstream in(NarrowPath(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::set<std::wstring> Listing(const std::wstring& folder)
{
    std::set<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE hFind = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (hFind == INVALID_HANDLE_VALUE)
        return names;
    do
    {
        std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            names.insert(name);
    } while (::FindNextFileW(hFind, &found));
    ::FindClose(hFind);
    return names;
}

void SetLastWrite(const std::wstring& path, ULONGLONG ticks, bool directory = false)
{
    HANDLE hFile = ::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, directory ? FILE_FLAG_BACKUP_SEMANTICS : 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hFile);
    FILETIME time = { static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32) };
    ASSERT_TRUE(::SetFileTime(hFile, nullptr, nullptr, &time));
    ::CloseHandle(hFile);
}

void CreateOldLog(const std::wstring& folder, int day, ULONGLONG lastWrite)
{
    wchar_t name[64];
    swprintf(name, 64, L"Sectorix 2020-01-%02d.log", day);
    std::wstring path = folder + L"\\" + name;
    std::ofstream(NarrowPath(path)) << "old\r\n";
    SetLastWrite(path, lastWrite);
}

void RemoveTree(const std::wstring& folder)
{
    for (const std::wstring& name : Listing(folder))
    {
        std::wstring path = folder + L"\\" + name;
        if (::GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY)
            RemoveTree(path);
        else
            ::DeleteFileW(path.c_str());
    }
    ::RemoveDirectoryW(folder.c_str());
}

class LogbuchTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH];
        ::GetTempPathW(MAX_PATH, temp);
        const char* test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        m_root = std::wstring(temp) + L"sectorix-log-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                 std::wstring(test, test + strlen(test));
        RemoveTree(m_root);
        ASSERT_TRUE(::CreateDirectoryW(m_root.c_str(), nullptr));
        m_folder = m_root + L"\\logs";
        ::CreateDirectoryW(m_folder.c_str(), nullptr);
        SYSTEMTIME start = { 2024, 3, 2, 5, 13, 7, 9, 45 };
        g_clock = ToTicks(start);
        Logbuch().SetClock(&TestClock);
    }

    void TearDown() override
    {
        Logbuch().SetFolder(L"");
        Logbuch().SetClock(&::GetSystemTimeAsFileTime);
        RemoveTree(m_root);
    }

    static TLogbuch& Logbuch() { return TLogbuch::Instance(); }

    std::wstring TodayPath() const { return m_folder + L"\\" + LogName(LocalTimeAt(g_clock)); }

    std::wstring m_root;
    std::wstring m_folder;
};

}

TEST_F(LogbuchTest, WithoutFolderNothingIsWrittenAnywhere)
{
    EXPECT_TRUE(Logbuch().SetFolder(L""));
    EXPECT_FALSE(Logbuch().IsEnabled());
    Logbuch().Write(L"lost");
    Logbuch().WriteFormat(L"lost %s", L"too");
    EXPECT_TRUE(Listing(m_folder).empty());
}

TEST_F(LogbuchTest, LinesAreStampedUtf8WithByteOrderMarkAndCrLf)
{
    ASSERT_TRUE(Logbuch().SetFolder(m_folder.c_str()));
    EXPECT_EQ(m_folder, Logbuch().GetFolder().GetString());
    Logbuch().Write(L"Sectorix\t\tVolume added\tE:");
    Logbuch().WriteFormat(L"Sectorix\t%s\tGr\u00f6\u00dfe %d \u20ac", L"OnCmdOpen", 512);

    SYSTEMTIME local = LocalTimeAt(g_clock);
    std::set<std::wstring> expectedFiles = { LogName(local) };
    EXPECT_EQ(expectedFiles, Listing(m_folder));

    char stamp[32];
    snprintf(stamp, sizeof(stamp), "%02d.%02d.%04d\t%02d:%02d:%02d.%03d\t", local.wDay, local.wMonth, local.wYear,
             local.wHour, local.wMinute, local.wSecond, local.wMilliseconds);
    std::string expected = "\xEF\xBB\xBF" + std::string(stamp) + "Sectorix\t\tVolume added\tE:\r\n" + stamp +
                           "Sectorix\tOnCmdOpen\tGr\xC3\xB6\xC3\x9F" "e 512 \xE2\x82\xAC\r\n";
    EXPECT_EQ(expected, ReadAll(TodayPath()));
}

TEST_F(LogbuchTest, FileOfTheDayIsAppendedToAcrossFolderSwitches)
{
    ASSERT_TRUE(Logbuch().SetFolder(m_folder.c_str()));
    Logbuch().Write(L"first");
    ASSERT_TRUE(Logbuch().SetFolder(L""));
    ASSERT_TRUE(Logbuch().SetFolder(m_folder.c_str()));
    Logbuch().Write(L"second");
    std::string content = ReadAll(TodayPath());
    EXPECT_EQ(0u, content.rfind("\xEF\xBB\xBF", 0));
    EXPECT_EQ(std::string::npos, content.find("\xEF\xBB\xBF", 3));
    EXPECT_NE(std::string::npos, content.find("\tfirst\r\n"));
    EXPECT_NE(std::string::npos, content.find("\tsecond\r\n"));
}

TEST_F(LogbuchTest, FirstLineOfANewDayOpensTheNewDaysFile)
{
    ASSERT_TRUE(Logbuch().SetFolder(m_folder.c_str()));
    Logbuch().Write(L"before midnight");
    std::wstring firstDay = TodayPath();
    g_clock += SecondsPerDay * TicksPerSecond;
    std::wstring secondDay = TodayPath();
    ASSERT_NE(firstDay, secondDay);
    EXPECT_EQ(1u, Listing(m_folder).size());

    Logbuch().Write(L"after midnight");
    EXPECT_EQ(2u, Listing(m_folder).size());
    EXPECT_EQ(std::string::npos, ReadAll(firstDay).find("after midnight"));
    SYSTEMTIME local = LocalTimeAt(g_clock);
    char stamp[16];
    snprintf(stamp, sizeof(stamp), "%02d.%02d.%04d\t", local.wDay, local.wMonth, local.wYear);
    EXPECT_NE(std::string::npos, ReadAll(secondDay).find(std::string(stamp)));
}

TEST_F(LogbuchTest, CleanUpKeepsTheSevenNewestAndDeletesOnlyFilesOlderThanSevenDays)
{
    const ULONGLONG day = SecondsPerDay * TicksPerSecond;
    for (int i = 1; i <= 10; ++i)
        CreateOldLog(m_folder, i, g_clock - (30 - i) * day);
    std::ofstream(NarrowPath(m_folder + L"\\notes.txt")) << "kept";

    ASSERT_TRUE(Logbuch().SetFolder(m_folder.c_str()));
    std::set<std::wstring> names = Listing(m_folder);
    for (int i = 1; i <= 3; ++i)
        EXPECT_EQ(0u, names.count(L"Sectorix 2020-01-0" + std::to_wstring(i) + L".log"));
    EXPECT_EQ(1u, names.count(L"Sectorix 2020-01-04.log"));
    EXPECT_EQ(1u, names.count(L"Sectorix 2020-01-10.log"));
    EXPECT_EQ(1u, names.count(L"notes.txt"));
    EXPECT_EQ(9u, names.size());
}

TEST_F(LogbuchTest, CleanUpSparesFilesExactlySevenDaysOldAndSmallFolders)
{
    const ULONGLONG day = SecondsPerDay * TicksPerSecond;
    for (int i = 1; i <= 7; ++i)
        CreateOldLog(m_folder, i, g_clock - 400 * day);
    ASSERT_TRUE(Logbuch().SetFolder(m_folder.c_str()));
    EXPECT_EQ(8u, Listing(m_folder).size());
    ASSERT_TRUE(Logbuch().SetFolder(L""));

    // The day's file counts now: eight files, the oldest exactly seven days old.
    SetLastWrite(TodayPath(), g_clock);
    CreateOldLog(m_folder, 8, g_clock - 7 * day);
    for (int i = 1; i <= 7; ++i)
        SetLastWrite(m_folder + L"\\Sectorix 2020-01-0" + std::to_wstring(i) + L".log", g_clock - i * 3600 * TicksPerSecond);
    ASSERT_TRUE(Logbuch().SetFolder(m_folder.c_str()));
    EXPECT_EQ(1u, Listing(m_folder).count(L"Sectorix 2020-01-08.log"));

    ASSERT_TRUE(Logbuch().SetFolder(L""));
    SetLastWrite(m_folder + L"\\Sectorix 2020-01-08.log", g_clock - 7 * day - TicksPerSecond);
    ASSERT_TRUE(Logbuch().SetFolder(m_folder.c_str()));
    EXPECT_EQ(0u, Listing(m_folder).count(L"Sectorix 2020-01-08.log"));
}

TEST_F(LogbuchTest, MatchingFolderCountsAndStaysWhenItCannotBeDeleted)
{
    const ULONGLONG day = SecondsPerDay * TicksPerSecond;
    std::wstring directory = m_folder + L"\\Sectorix 2019-12-31.log";
    ASSERT_TRUE(::CreateDirectoryW(directory.c_str(), nullptr));
    SetLastWrite(directory, g_clock - 100 * day, true);
    for (int i = 1; i <= 7; ++i)
        CreateOldLog(m_folder, i, g_clock - (20 - i) * day);

    ASSERT_TRUE(Logbuch().SetFolder(m_folder.c_str()));
    std::set<std::wstring> names = Listing(m_folder);
    EXPECT_EQ(1u, names.count(L"Sectorix 2019-12-31.log"));
    EXPECT_EQ(1u, names.count(L"Sectorix 2020-01-01.log"));
}

TEST_F(LogbuchTest, SwitchingFolderCleansOnlyTheNewFolder)
{
    const ULONGLONG day = SecondsPerDay * TicksPerSecond;
    std::wstring other = m_root + L"\\other";
    ::CreateDirectoryW(other.c_str(), nullptr);
    ASSERT_TRUE(Logbuch().SetFolder(m_folder.c_str()));
    for (int i = 1; i <= 9; ++i)
    {
        CreateOldLog(m_folder, i, g_clock - 50 * day);
        CreateOldLog(other, i, g_clock - 50 * day);
    }
    ASSERT_TRUE(Logbuch().SetFolder(other.c_str()));
    EXPECT_EQ(10u, Listing(m_folder).size());
    EXPECT_EQ(8u, Listing(other).size());
}

TEST_F(LogbuchTest, UnusableFolderFailsAndDropsLinesUntilAUsableOne)
{
    std::wstring missing = m_root + L"\\missing";
    EXPECT_FALSE(SetLogFolder(missing.c_str()));
    Logbuch().Write(L"dropped");
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(missing.c_str()));
    EXPECT_EQ(std::set<std::wstring>{ L"logs" }, Listing(m_root));
    EXPECT_TRUE(Listing(m_folder).empty());
    EXPECT_TRUE(SetLogFolder(m_folder.c_str()));
    Logbuch().Write(L"kept");
    EXPECT_NE(std::string::npos, ReadAll(TodayPath()).find("\tkept\r\n"));
}

TEST_F(LogbuchTest, WatchguardCreatesAMissingFolderOneLevelDeep)
{
    CWatchguard* pWatchguard = InitWatchguard();
    ASSERT_NE(nullptr, pWatchguard);
    std::wstring created = m_root + L"\\created";
    pWatchguard->SetLogFolder(created.c_str());
    EXPECT_EQ(created, pWatchguard->GetLogFolder().GetString());
    EXPECT_EQ(1u, Listing(created).size());

    std::wstring tooDeep = m_root + L"\\no\\such";
    pWatchguard->SetLogFolder(tooDeep.c_str());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(tooDeep.c_str()));
    EXPECT_EQ(tooDeep, Logbuch().GetFolder().GetString());

    ::PostThreadMessageW(pWatchguard->m_nThreadID, WM_CLOSE, 0, 0);
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(pWatchguard->m_hThread, 5000));
    delete pWatchguard;
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

    std::string content;
    for (const std::wstring& name : Listing(m_folder))
        content += ReadAll(m_folder + L"\\" + name);
    std::regex line("\\d\\d\\.\\d\\d\\.\\d{4}\t\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\tSectorix\twriter \\d\tline \\d{3} of a longer text\r");
    size_t lines = 0;
    size_t start = content.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
    for (size_t end; (end = content.find('\n', start)) != std::string::npos; start = end + 1, ++lines)
        EXPECT_TRUE(std::regex_match(content.substr(start, end - start), line)) << content.substr(start, end - start);
    EXPECT_EQ(static_cast<size_t>(writers * linesEach), lines);
}
