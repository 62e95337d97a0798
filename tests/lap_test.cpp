// Lap files served as a card: made from a real FAT image by make-lap and by
// the lap writer, read in every order, and refused or answered false when
// their list block or compressed parts are damaged. Every lap lies at the
// end of a guarded range, so a read past the file faults.
#include "CardFiles.h"
#include "FatLayout.h"
#include "GuardedBuffer.h"
#include "LapWriter.h"
#include "MappedFile.h"
#include "telemetry/LapImage.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace
{
const uint32_t SectorSize = CLapImage::SectorSize;
const uint32_t RequestSectors = 64;
const size_t MaxFileSize = 64 << 20;
const uint32_t Seed = 20261207;

typedef std::vector<unsigned char> Bytes;

Bytes ReadFile(const char* path)
{
    std::wstring widePath(path, path + std::strlen(path));
    std::vector<BYTE> bytes = card_files::ReadBytes(widePath, 0, MaxFileSize);
    return Bytes(bytes.begin(), bytes.end());
}

void SetWord(Bytes& lap, size_t offset, uint16_t value)
{
    lap[offset] = static_cast<unsigned char>(value);
    lap[offset + 1] = static_cast<unsigned char>(value >> 8);
}

void SetField(Bytes& lap, size_t offset, uint32_t value)
{
    SetWord(lap, offset, static_cast<uint16_t>(value));
    SetWord(lap, offset + 2, static_cast<uint16_t>(value >> 16));
}

uint16_t Word(const unsigned char* bytes, size_t offset)
{
    return static_cast<uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

// Makes the check word hold again after a change, where the length word
// leaves room for one.
void Reseal(Bytes& lap)
{
    size_t words = lap.size() >= 2 ? Word(lap.data(), 0) / 2 : 0;
    if (words < 2 || words * 2 > lap.size())
        return;
    uint16_t sum = 0;
    for (size_t i = 0; i + 1 < words; ++i)
        sum = static_cast<uint16_t>(sum + Word(lap.data(), 2 * i));
    SetWord(lap, 2 * (words - 1), static_cast<uint16_t>(0 - sum));
}

// A lap file copied to the end of a guarded range, as a mapped view holds it.
class GuardedLap
{
public:
    explicit GuardedLap(const Bytes& lap)
        : m_buffer(lap.size())
    {
        std::copy(lap.begin(), lap.end(), m_buffer.data());
    }

    bool Open(CLapImage& image) { return image.Open(m_buffer.data(), m_buffer.size()); }

private:
    GuardedBuffer m_buffer;
};

class LapTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_card = ReadFile(TEST_CARD_IMAGE);
        s_lap = ReadFile(TEST_CARD_LAP);
        s_firstDataSector = FatFirstDataSector(s_card.data(), s_card.size());
    }

    static uint32_t CardSectors() { return static_cast<uint32_t>(s_card.size() / SectorSize); }

    // The card as the lap serves it: a gap of zeros between the header's
    // sectors and the data sectors, zeros beyond the card's end.
    static Bytes Served(uint32_t first, uint32_t count, uint32_t headerSectors)
    {
        Bytes bytes(size_t(count) * SectorSize, 0);
        for (uint32_t i = 0; i < count; ++i)
        {
            uint64_t sector = uint64_t(first) + i;
            bool gap = sector >= headerSectors && sector < s_firstDataSector;
            if (!gap && sector < CardSectors())
                std::memcpy(&bytes[size_t(i) * SectorSize], &s_card[sector * SectorSize], SectorSize);
        }
        return bytes;
    }

    // Opens the lap and inflates its header.
    void Serve(const Bytes& lap)
    {
        m_pLap = std::make_unique<GuardedLap>(lap);
        ASSERT_TRUE(m_pLap->Open(m_image));
        ASSERT_TRUE(m_image.InflateHeader());
    }

    void ExpectServed(const std::vector<uint32_t>& firsts, uint32_t count, uint32_t headerSectors)
    {
        for (uint32_t first : firsts)
        {
            GuardedBuffer buffer(size_t(count) * SectorSize);
            ASSERT_TRUE(m_image.ReadSectors(buffer.data(), first, count)) << "sector " << first;
            ASSERT_TRUE(std::equal(buffer.data(), buffer.data() + buffer.size(),
                                   Served(first, count, headerSectors).begin()))
                << count << " sectors from " << first;
        }
    }

    static std::vector<uint32_t> Ascending(uint32_t end, uint32_t step)
    {
        std::vector<uint32_t> firsts;
        for (uint32_t first = 0; first < end; first += step)
            firsts.push_back(first);
        return firsts;
    }

    static Bytes s_card;
    static Bytes s_lap;
    static uint32_t s_firstDataSector;
    std::unique_ptr<GuardedLap> m_pLap;
    CLapImage m_image;
};

Bytes LapTest::s_card;
Bytes LapTest::s_lap;
uint32_t LapTest::s_firstDataSector;

TEST_F(LapTest, MadeFromFatImageServesItInEveryOrder)
{
    ASSERT_GT(s_firstDataSector, 0u);
    Serve(s_lap);
    EXPECT_EQ(s_firstDataSector, m_image.FirstDataSector());
    EXPECT_EQ(s_firstDataSector, m_image.HeaderSectors());

    // Descending in odd steps from the fresh lap, then ascending, descending
    // and shuffled in whole requests.
    std::vector<uint32_t> odd = Ascending(CardSectors(), 37);
    std::reverse(odd.begin(), odd.end());
    ExpectServed(odd, 37, s_firstDataSector);
    std::vector<uint32_t> firsts = Ascending(CardSectors(), RequestSectors);
    ExpectServed(firsts, RequestSectors, s_firstDataSector);
    std::reverse(firsts.begin(), firsts.end());
    ExpectServed(firsts, RequestSectors, s_firstDataSector);
    std::shuffle(firsts.begin(), firsts.end(), std::mt19937(Seed));
    ExpectServed(firsts, RequestSectors, s_firstDataSector);

    // Odd sizes that start anywhere, and reads past the card's end.
    const uint32_t sizes[] = { 1, 7, 129, 3, 64, 255 };
    uint32_t first = 0;
    for (size_t i = 0; first < CardSectors() + 300; first += sizes[i++ % 6])
        ExpectServed({ first }, sizes[i % 6], s_firstDataSector);
    ExpectServed({ 0xFFFFFFFFu }, 1, s_firstDataSector);
}

// Four access points across 2 MiB: the stream thins them out twice and
// more, and serves the same bytes.
TEST_F(LapTest, FewAccessPointsServeTheSameBytes)
{
    uint32_t dataSize = static_cast<uint32_t>(s_card.size() - s_firstDataSector * SectorSize);
    Bytes packed = Deflate(&s_card[s_firstDataSector * SectorSize], dataSize);
    CLapDataStream stream(4);
    ASSERT_TRUE(stream.Start(packed.data(), static_cast<uint32_t>(packed.size())));
    const size_t MaxLength = 70000;
    Bytes bytes(MaxLength);
    for (uint32_t offset = 0; offset < dataSize; offset += RequestSectors * SectorSize)
        ASSERT_TRUE(stream.Read(offset, bytes.data(), RequestSectors * SectorSize));
    EXPECT_EQ(4u, stream.AccessPoints());
    EXPECT_GT(stream.Spacing(), CLapDataStream::InitialSpacing);
    std::mt19937 random(Seed);
    for (int i = 0; i < 50; ++i)
    {
        uint32_t offset = random() % dataSize;
        size_t length = std::min<size_t>(1 + random() % MaxLength, dataSize - offset);
        ASSERT_TRUE(stream.Read(offset, bytes.data(), length)) << offset;
        ASSERT_EQ(0, std::memcmp(bytes.data(), &s_card[s_firstDataSector * SectorSize + offset], length)) << offset;
    }
}

// A header shorter than the FAT area leaves a gap of zeros before the data;
// a header that ends inside a sector serves its whole sectors only.
TEST_F(LapTest, GapBetweenHeaderAndDataIsZerosAndHeaderServesWholeSectorsOnly)
{
    uint32_t h = s_firstDataSector - 8;
    Serve(MakeLapFile(s_card.data(), s_card.size(), h, s_firstDataSector));
    EXPECT_EQ(h, m_image.HeaderSectors());
    // Header through gap into data, gap into data, gap alone, data alone.
    ExpectServed({ h - 2 }, 20, h);
    ExpectServed({ h + 3 }, 64, h);
    ExpectServed({ h + 1 }, 4, h);
    ExpectServed({ s_firstDataSector, 0 }, 70, h);

    const uint32_t partial = 100;
    uint32_t headerSize = s_firstDataSector * SectorSize - SectorSize + partial;
    Bytes data(s_card.begin() + s_firstDataSector * SectorSize, s_card.end());
    Serve(AssembleLapFile(Deflate(s_card.data(), headerSize), headerSize, Deflate(data.data(), data.size()),
                          s_firstDataSector));
    EXPECT_EQ(s_firstDataSector - 1, m_image.HeaderSectors());
    ExpectServed({ 0 }, s_firstDataSector + 5, s_firstDataSector - 1);
}

TEST_F(LapTest, RequestsThatWrapOrPrecedeOpeningAreRefused)
{
    Bytes buffer(64 * SectorSize);
    EXPECT_FALSE(m_image.ReadSectors(buffer.data(), 0, 1));
    EXPECT_FALSE(m_image.InflateHeader());
    Serve(s_lap);
    EXPECT_FALSE(m_image.ReadSectors(buffer.data(), 0xFFFFFFF0u, 0x20));
    // A request larger than this process can address.
    if (sizeof(size_t) == 4)
    {
        EXPECT_FALSE(m_image.ReadSectors(nullptr, 0, 0x00800000u));
    }
    EXPECT_TRUE(m_image.ReadSectors(buffer.data(), 0xFFFFFFC0u, 64));
    EXPECT_TRUE(m_image.ReadSectors(buffer.data(), 10, 0));
    m_image.Close();
    EXPECT_FALSE(m_image.ReadSectors(buffer.data(), 0, 1));
}

// A data stream that breaks, byte aligned after a full flush, with a block
// of the reserved type once `good` bytes are out.
Bytes BrokenStream(const unsigned char* data, size_t size, size_t good)
{
    const unsigned char ReservedBlockType = 0x06;
    Bytes packed(compressBound(static_cast<uLong>(size)) + 16);
    z_stream stream = {};
    EXPECT_EQ(Z_OK, deflateInit(&stream, Z_DEFAULT_COMPRESSION));
    stream.next_in = const_cast<unsigned char*>(data);
    stream.avail_in = static_cast<uInt>(good);
    stream.next_out = packed.data();
    stream.avail_out = static_cast<uInt>(packed.size());
    EXPECT_EQ(Z_OK, deflate(&stream, Z_FULL_FLUSH));
    packed.resize(stream.total_out);
    deflateEnd(&stream);
    packed.push_back(ReservedBlockType);
    packed.insert(packed.end(), data + good, data + good + 100);
    return packed;
}

TEST_F(LapTest, DamagedDataFailsWhereItIsMetAndLowerReadsStillSucceed)
{
    const uint32_t damagedSector = 100;
    uint32_t d = s_firstDataSector;
    const unsigned char* data = &s_card[d * SectorSize];
    Bytes packed = BrokenStream(data, s_card.size() - d * SectorSize, damagedSector * SectorSize + 77);
    Serve(AssembleLapFile(Deflate(s_card.data(), d * SectorSize), d * SectorSize, packed, d));
    Bytes buffer(RequestSectors * SectorSize);
    EXPECT_TRUE(m_image.ReadSectors(buffer.data(), d, RequestSectors));
    EXPECT_FALSE(m_image.ReadSectors(buffer.data(), d + RequestSectors, RequestSectors));
    ExpectServed({ d + 30, d }, RequestSectors, d);
    EXPECT_FALSE(m_image.ReadSectors(buffer.data(), d + 500, 1));
    ExpectServed({ d + damagedSector - 1 }, 1, d);

    // Cut short: what the kept bytes give is served, the rest fails.
    Bytes cut = s_lap;
    uint32_t kept = static_cast<uint32_t>(Word(cut.data(), 76) | Word(cut.data(), 78) << 16) / 2;
    SetField(cut, 76, kept);
    Reseal(cut);
    Serve(cut);
    ExpectServed({ d }, 8, d);
    EXPECT_FALSE(m_image.ReadSectors(buffer.data(), CardSectors() - 1, 1));
}

TEST_F(LapTest, UnsoundListBlocksAreRefused)
{
    struct Damage
    {
        const char* what;
        void (*apply)(Bytes& lap);
    };
    const Damage damages[] = {
        { "check word off by one", [](Bytes& lap) { lap[80] ^= 1; } },
        { "two bytes", [](Bytes& lap) { lap.resize(2); } },
        { "one byte", [](Bytes& lap) { lap.resize(1); } },
        { "empty", [](Bytes& lap) { lap.clear(); } },
        { "length word is the size", [](Bytes& lap) { lap.resize(82); } },
        { "length word past the size", [](Bytes& lap) { SetWord(lap, 0, 0xFFFE); } },
        { "odd length", [](Bytes& lap) { SetWord(lap, 0, 83); Reseal(lap); } },
        { "length short of the fields", [](Bytes& lap) { SetWord(lap, 0, 80); Reseal(lap); } },
        { "header past the file",
          [](Bytes& lap) { SetField(lap, 56, static_cast<uint32_t>(lap.size()) - Word(lap.data(), 64) + 1); Reseal(lap); } },
        { "header size past the file",
          [](Bytes& lap) { SetField(lap, 64, static_cast<uint32_t>(lap.size())); Reseal(lap); } },
        { "data past the file",
          [](Bytes& lap) { SetField(lap, 68, static_cast<uint32_t>(lap.size()) - Word(lap.data(), 76) + 1); Reseal(lap); } },
        { "data offset that wraps",
          [](Bytes& lap) { SetField(lap, 68, 0xFFFFFFFFu - Word(lap.data(), 76) + 2); Reseal(lap); } },
        { "data size that wraps", [](Bytes& lap) { SetField(lap, 76, 0xFFFFFFFFu); Reseal(lap); } },
        { "header size no compressed header could give",
          [](Bytes& lap) { SetField(lap, 60, Word(lap.data(), 64) * 1032u + 1); Reseal(lap); } },
    };
    ASSERT_LT(Word(s_lap.data(), 64) * 1032u, 0x01000000u);
    for (const Damage& damage : damages)
    {
        Bytes lap = s_lap;
        damage.apply(lap);
        GuardedLap guarded(lap);
        CLapImage image;
        EXPECT_FALSE(guarded.Open(image)) << damage.what;
        EXPECT_FALSE(image.InflateHeader()) << damage.what;
    }

    // A header that ends before the size its list block gives is a corrupt
    // lap, by one byte or by as much as the ratio check lets through.
    uint32_t headerSize = Word(s_lap.data(), 60) | Word(s_lap.data(), 62) << 16;
    for (uint32_t claimed : { headerSize + 1, Word(s_lap.data(), 64) * 1032u })
    {
        Bytes lap = s_lap;
        SetField(lap, 60, claimed);
        Reseal(lap);
        GuardedLap guarded(lap);
        CLapImage image;
        ASSERT_TRUE(guarded.Open(image)) << claimed;
        EXPECT_FALSE(image.InflateHeader()) << claimed;
        uint32_t first = 0;
        Bytes buffer(SectorSize);
        EXPECT_FALSE(image.ReadSectorList(buffer.data(), 1, &first)) << claimed;
    }
}

TEST_F(LapTest, LongerListBlockIsKeptInItsShortForm)
{
    // Two more words before the check word; the fields stay where they are.
    Bytes lap = s_lap;
    lap.insert(lap.begin() + 80, { 0x34, 0x12, 0x00, 0x00 });
    SetWord(lap, 0, 86);
    SetField(lap, 56, Word(lap.data(), 56) + 4);
    SetField(lap, 68, Word(lap.data(), 68) + 4);
    Reseal(lap);
    Serve(lap);
    const _list_block& block = m_image.ListBlock();
    EXPECT_EQ(82, block.Length());
    EXPECT_EQ(0, ListBlockCheckWord(block.words, ListBlockWords));
    EXPECT_EQ(s_firstDataSector, block.FirstDataSector());
    EXPECT_EQ(uint32_t(Word(s_lap.data(), 76) | Word(s_lap.data(), 78) << 16), block.DataPackedSize());
    ExpectServed({ 0, s_firstDataSector }, 64, s_firstDataSector);
}

// ---------------------------------------------------------------------------

// A list block of `words` words numbered 1, 2, ... after its length word,
// with its check word.
std::vector<uint16_t> NumberedBlock(size_t words)
{
    std::vector<uint16_t> block(words);
    block[0] = static_cast<uint16_t>(words * 2);
    std::iota(block.begin() + 1, block.end(), uint16_t(1));
    block.back() = ListBlockCheckWord(block.data(), words - 1);
    return block;
}

std::vector<uint16_t> Copied(const std::vector<uint16_t>& source, uint16_t targetLength)
{
    std::vector<uint16_t> target(targetLength / 2 + 1, 0xEEEE);
    CopyListBlock(reinterpret_cast<const _list_block*>(source.data()), source.size() * 2,
                  reinterpret_cast<_list_block*>(target.data()), targetLength);
    EXPECT_EQ(0xEEEE, target.back()) << "written past the target";
    target.pop_back();
    return target;
}

TEST(ListBlockCopy, EachLengthRelation)
{
    // Shorter target: words 1 to 26, a new check word.
    std::vector<uint16_t> from82 = NumberedBlock(41);
    std::vector<uint16_t> to56 = Copied(from82, 56);
    EXPECT_EQ(56, to56[0]);
    EXPECT_TRUE(std::equal(to56.begin() + 1, to56.begin() + 27, from82.begin() + 1));
    EXPECT_EQ(0, ListBlockCheckWord(to56.data(), to56.size()));

    // Longer target: words 1 to 28, zeros, the source's check word.
    std::vector<uint16_t> from60 = NumberedBlock(30);
    std::vector<uint16_t> to82 = Copied(from60, 82);
    EXPECT_EQ(82, to82[0]);
    EXPECT_TRUE(std::equal(to82.begin() + 1, to82.begin() + 29, from60.begin() + 1));
    EXPECT_TRUE(std::all_of(to82.begin() + 29, to82.begin() + 40, [](uint16_t w) { return w == 0; }));
    EXPECT_EQ(from60.back(), to82.back());

    // Same length: the whole record, with an even length word even where
    // the source's is odd.
    EXPECT_EQ(from82, Copied(from82, 82));
    std::vector<uint16_t> odd = from82;
    odd[0] = 83;
    EXPECT_EQ(82, Copied(odd, 82)[0]);

    // The older form, 39 words and no length word: shifted by one word, its
    // last word also the target's last.
    std::vector<uint16_t> old(39);
    std::iota(old.begin() + 1, old.end(), uint16_t(100));
    std::vector<uint16_t> fromOld = Copied(old, 82);
    EXPECT_TRUE(std::equal(old.begin(), old.end(), fromOld.begin() + 1));
    EXPECT_EQ(old.back(), fromOld.back());

    // Targets of fewer than two words: the length word if it fits, no more.
    EXPECT_TRUE(Copied(from82, 0).empty());
    EXPECT_TRUE(Copied(from82, 1).empty());
    EXPECT_EQ(std::vector<uint16_t>{ 2 }, Copied(from82, 2));
    EXPECT_EQ(std::vector<uint16_t>{ 2 }, Copied(from82, 3));
    std::vector<uint16_t> to4 = Copied(from82, 4);
    EXPECT_EQ(4, to4[0]);
    EXPECT_EQ(0, ListBlockCheckWord(to4.data(), to4.size()));
}

// Every source length word, readable size and target length: nothing is
// read past the readable source nor written past the target, both guarded.
TEST(ListBlockCopy, NeverLeavesSourceOrTarget)
{
    const size_t MaxBytes = 100;
    std::vector<std::unique_ptr<GuardedBuffer>> sources, targets;
    for (size_t size = 0; size <= MaxBytes; ++size)
    {
        sources.push_back(std::make_unique<GuardedBuffer>(size));
        targets.push_back(std::make_unique<GuardedBuffer>(size));
    }
    const uint16_t lengthWords[] = { 0, 1, 2, 3, 4, 5, 56, 60, 78, 81, 82, 83, 98, 200, 0xFFFF };
    for (size_t sourceSize = 0; sourceSize <= MaxBytes; ++sourceSize)
    {
        BYTE* source = sources[sourceSize]->data();
        for (uint16_t length : lengthWords)
        {
            for (size_t i = 0; i < sourceSize; ++i)
                source[i] = static_cast<BYTE>(i < 2 ? length >> (8 * i) : i);
            for (uint16_t targetLength = 0; targetLength <= MaxBytes; ++targetLength)
            {
                GuardedBuffer& target = *targets[targetLength];
                CopyListBlock(reinterpret_cast<const _list_block*>(source), sourceSize,
                              reinterpret_cast<_list_block*>(target.data()), targetLength);
                if (targetLength >= 2)
                {
                    ASSERT_EQ(targetLength / 2 * 2, Word(target.data(), 0));
                }
                ASSERT_TRUE(target.PatternIntact());
            }
        }
    }
}

// ---------------------------------------------------------------------------

// Many thousands of mutated laps through opening, the header and reads:
// whatever they hold, nothing outside the lap's range is read, nothing
// outside the caller's buffer written, and every call returns.
TEST_F(LapTest, FuzzedLapsNeverCrashOverrunOrHang)
{
    const int Iterations = 50000;
    const DWORD TimeBound = 60000;
    const uint32_t FuzzCardSectors = 256;
    const size_t FieldOffsets[] = { 0, 44, 56, 60, 64, 68, 76 };

    Bytes base = MakeLapFile(s_card.data(), FuzzCardSectors * SectorSize, s_firstDataSector,
                                                  s_firstDataSector);
    std::mt19937 random(Seed);
    int opened = 0, headers = 0, reads = 0, served = 0, iterations = 0;
    DWORD start = ::GetTickCount();
    for (; iterations < Iterations && ::GetTickCount() - start < TimeBound; ++iterations)
    {
        Bytes lap = base;
        uint32_t size = static_cast<uint32_t>(lap.size());
        int mutations = 1 + random() % 3;
        for (int m = 0; m < mutations && !lap.empty(); ++m)
        {
            size_t field = FieldOffsets[random() % 7];
            const uint32_t edges[] = { 0, 1, size - 1, size, size + 1, 0x7FFFFFFF, 0xFFFFFFFF, random() % (2 * size) };
            switch (random() % 6)
            {
            case 0:
                SetWord(lap, field + 2 * (random() % 2), static_cast<uint16_t>(random()));
                break;
            case 1:
                SetField(lap, field, edges[random() % 8]);
                break;
            case 2:
                SetWord(lap, 0, static_cast<uint16_t>(random() % 300));
                break;
            case 3:
                lap.resize(random() % lap.size());
                break;
            default:
                for (int n = 1 + random() % 16; n > 0; --n)
                    lap[random() % lap.size()] ^= static_cast<unsigned char>(1 + random() % 255);
                break;
            }
            if (random() % 4 != 0)
                Reseal(lap);
        }

        GuardedLap guarded(lap);
        CLapImage image;
        if (!guarded.Open(image))
            continue;
        ++opened;
        headers += image.InflateHeader();
        for (int r = 0; r < 4; ++r)
        {
            uint32_t first = r == 3 ? 0xFFFFFFFFu - random() % 200 : random() % (FuzzCardSectors + 100);
            uint32_t count = 1 + random() % 130;
            uint32_t list[] = { random() % 64, random() % 64, first };
            bool listed = r == 2;
            GuardedBuffer buffer(size_t(listed ? 3 : count) * SectorSize);
            ++reads;
            served += listed ? image.ReadSectorList(buffer.data(), 3, list) : image.ReadSectors(buffer.data(), first, count);
            ASSERT_TRUE(buffer.PatternIntact()) << "iteration " << iterations;
        }
    }
    std::printf("fuzz: %d laps, %d opened, %d headers inflated, %d reads, %d served\n", iterations, opened, headers,
                reads, served);
    EXPECT_EQ(Iterations, iterations) << "the time bound ended the loop";
    EXPECT_GT(opened, Iterations / 10);
}

// A stored lap read by a tool: nobody may write it, cut it short or delete
// it while it is mapped, and it is free again once the map is gone.
TEST(MappedLapFile, KeepsWritersOutWhileMapped)
{
    std::wstring folder = card_files::MakeTempFolder(L"mapped");
    std::wstring path = folder + L"\\lap.mflap";
    ASSERT_TRUE(::CopyFileW(card_files::WindowsPath(TEST_CARD_LAP).c_str(), path.c_str(), FALSE));
    auto openForWriting = [&path]() {
        return ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    {
        CMappedFile file(path);
        ASSERT_EQ(ReadFile(TEST_CARD_LAP).size(), file.Size());
        EXPECT_EQ(INVALID_HANDLE_VALUE, openForWriting());
        EXPECT_EQ(DWORD(ERROR_SHARING_VIOLATION), ::GetLastError());
        EXPECT_FALSE(::DeleteFileW(path.c_str()));
        EXPECT_EQ(ReadFile(TEST_CARD_LAP), Bytes(file.Data(), file.Data() + file.Size()));
    }
    HANDLE hFile = openForWriting();
    EXPECT_NE(INVALID_HANDLE_VALUE, hFile);
    ::CloseHandle(hFile);
    card_files::RemoveTree(folder);
}
}
