// The stand-in card-reader libraries keep the promises that the card
// library tests build on but cannot see through the bindings: the init kept
// on the card image, the recorder's blocks, answers until a reset, and the
// demo's card named by the environment.
#include "CardFiles.h"
#include "CardLibStandin.h"
#include "InitFiles.h"

#include <gtest/gtest.h>

#include <cstring>

namespace cs = CardLibStandin;

namespace
{
typedef unsigned int(__cdecl* PointerEntry)(void*);
typedef unsigned int(__cdecl* MountEntry)(const char*, void**, int);
typedef unsigned int(__cdecl* TextEntry)(const char*);
typedef unsigned int(__cdecl* TwoTextEntry)(const char*, const char*);
typedef unsigned int(__cdecl* TwoPointerEntry)(void*, void*);
typedef unsigned int(__cdecl* InitCardEntry)(const BYTE*, const BYTE*, DWORD);

const size_t ImageSize = 65536;

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

class CardLibStandinTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_folder = card_files::MakeTempFolder(L"cardlib");
        std::wstring variant = card_files::WindowsPath(CARDLIB_STANDIN_DIR) + L"\\full\\";
        m_hCmdll = ::LoadLibraryW((variant + L"CMDLL.DLL").c_str());
        m_hCmrec = ::LoadLibraryW((variant + L"CMRECDLL.DLL").c_str());
        ASSERT_TRUE(m_hCmdll && m_hCmrec);
        m_cmdll = cs::Control(m_hCmdll);
        m_cmrec = cs::Control(m_hCmrec);
        ASSERT_TRUE(m_cmdll && m_cmrec);
    }

    void TearDown() override
    {
        ::FreeLibrary(m_hCmdll);
        ::FreeLibrary(m_hCmrec);
        card_files::RemoveTree(m_folder);
    }

    template <typename Entry>
    Entry Cmdll(const char* name)
    {
        return reinterpret_cast<Entry>(reinterpret_cast<void*>(::GetProcAddress(m_hCmdll, name)));
    }

    template <typename Entry>
    Entry Cmrec(const char* name)
    {
        return reinterpret_cast<Entry>(reinterpret_cast<void*>(::GetProcAddress(m_hCmrec, name)));
    }

    std::wstring m_folder;
    HMODULE m_hCmdll = nullptr;
    HMODULE m_hCmrec = nullptr;
    cs::ControlProc m_cmdll = nullptr;
    cs::ControlProc m_cmrec = nullptr;
};

TEST_F(CardLibStandinTest, InitFileIsKeptOnTheCardImageAndReadBack)
{
    const std::wstring image = m_folder + L"\\card.img";
    const std::wstring init = m_folder + L"\\init.bin";
    const std::wstring back = m_folder + L"\\back.bin";
    const std::vector<BYTE> records = {0x00, 0x01, 0x07, 0x06, 5, 0, 0, 0, 1, 2, 3, 4, 5,
                                       0x00, 0x04, 0x00, 0x00, 0, 0, 0, 0};
    init_files::Write(image, std::vector<BYTE>(ImageSize, 0xFF));
    init_files::Write(init, records);
    m_cmdll(cs::SetCardImage, 0, image.c_str());

    EXPECT_EQ(cs::CodeNotMounted, Cmdll<TextEntry>("cmdllDoInitCard")(Narrow(init).c_str()));
    void* handle = nullptr;
    ASSERT_EQ(cs::Success, Cmdll<MountEntry>("_cmdllMountDataSource")("*TELVANE", &handle, 1));
    EXPECT_EQ(cs::MountHandle, reinterpret_cast<UINT_PTR>(handle));
    // An erased card holds an empty init.
    EXPECT_EQ(cs::Success, Cmdll<TwoTextEntry>("_cmdllDoReadCard1")(nullptr, Narrow(back).c_str()));
    EXPECT_TRUE(card_files::ReadBytes(back, 0, 1).empty());

    ASSERT_EQ(cs::Success, Cmdll<TextEntry>("cmdllDoInitCard")(Narrow(init).c_str()));
    // The card's layout and the read-back are checked through the binding.
    const std::vector<BYTE> card = card_files::ReadBytes(image, 0, ImageSize);
    EXPECT_EQ(records, std::vector<BYTE>(card.begin() + 4, card.begin() + 4 + records.size()));

    // A record that runs past the end of its file leaves the card alone.
    init_files::Write(init, std::vector<BYTE>(records.begin(), records.end() - 1));
    EXPECT_EQ(cs::CodeBadInitFile, Cmdll<TextEntry>("cmdllDoInitCard")(Narrow(init).c_str()));
    EXPECT_EQ(card, card_files::ReadBytes(image, 0, ImageSize));

    Cmdll<PointerEntry>("cmdllUnmountDataSource")(&handle);
    EXPECT_EQ(cs::CodeNotMounted, Cmdll<TwoTextEntry>("_cmdllDoReadCard1")(nullptr, Narrow(back).c_str()));
}

TEST_F(CardLibStandinTest, RecorderKeepsItsBlocksAndAChosenAnswerReplacesItsWorkUntilReset)
{
    BYTE config[cs::ConfigSize];
    for (size_t i = 0; i < cs::ConfigSize; ++i)
        config[i] = BYTE(i);
    const BYTE extra[] = {1, 2, 3, 4, 5};
    ASSERT_EQ(0u, Cmrec<InitCardEntry>("cmrecInitCard")(config, extra, sizeof(extra)));
    BYTE read[cs::ConfigSize] = {};
    ASSERT_EQ(0u, Cmrec<PointerEntry>("cmrecReadConfig")(read));
    EXPECT_EQ(0, std::memcmp(config, read, sizeof(config)));
    BYTE buffer[8] = {};
    DWORD size = 4;
    EXPECT_EQ(cs::RecorderErrorTooLong, Cmrec<TwoPointerEntry>("cmrecReadExtraInfo")(buffer, &size));
    size = sizeof(buffer);
    ASSERT_EQ(0u, Cmrec<TwoPointerEntry>("cmrecReadExtraInfo")(buffer, &size));
    EXPECT_EQ(std::vector<BYTE>(extra, extra + 5), std::vector<BYTE>(buffer, buffer + size));

    m_cmrec(cs::SetAnswer, 23, L"cmrecInitCard");
    const BYTE other[cs::ConfigSize] = {7, 7};
    EXPECT_EQ(23u, Cmrec<InitCardEntry>("cmrecInitCard")(other, extra, 1));
    m_cmrec(cs::GetConfig, 0, read);
    EXPECT_EQ(1, read[1]);
    // Reset forgets the answer and the record.
    m_cmrec(cs::Reset, 0, nullptr);
    m_cmrec(cs::GetConfig, 0, read);
    EXPECT_EQ(0, read[1]);
    EXPECT_EQ(0u, Cmrec<InitCardEntry>("cmrecInitCard")(other, extra, 1));
}

// The demo's host cannot reach the control entry: the environment names
// its card.
TEST_F(CardLibStandinTest, EnvironmentNamesTheCardInDriveZero)
{
    const std::wstring image = m_folder + L"\\card.img";
    init_files::Write(image, std::vector<BYTE>(ImageSize, 0xFF));
    ASSERT_TRUE(::SetEnvironmentVariableW(cs::CardVariable, image.c_str()));
    m_cmdll(cs::Reset, 0, nullptr);
    ::SetEnvironmentVariableW(cs::CardVariable, nullptr);
    DWORD size = 0;
    EXPECT_EQ(cs::Success, Cmdll<PointerEntry>("cmdllGetCardSize")(&size));
    EXPECT_EQ(ImageSize, size);
    void* handle = nullptr;
    EXPECT_EQ(cs::Success, Cmdll<MountEntry>("_cmdllMountDataSource")(nullptr, &handle, 0));
}
} // namespace
