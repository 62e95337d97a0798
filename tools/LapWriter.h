#pragma once

// Lap files made from a card image, as the vehicle's logger makes them: a
// list block with its check word, then the header data and the lap data,
// each a zlib stream. Used by make-lap, the tests and the benchmark.
#include <cstddef>
#include <cstdint>
#include <vector>

std::vector<unsigned char> Deflate(const unsigned char* bytes, size_t size);

// A lap file of the given compressed parts; the header inflates to
// headerSize bytes, the lap data to the card from firstDataSector on.
std::vector<unsigned char> AssembleLapFile(const std::vector<unsigned char>& packedHeader, uint32_t headerSize,
                                           const std::vector<unsigned char>& packedData, uint32_t firstDataSector);

// The lap of a card: its first headerSectors sectors as the header, the
// sectors from firstDataSector on as the lap data. With both equal the card
// served from the lap is the card.
std::vector<unsigned char> MakeLapFile(const unsigned char* card, size_t cardSize, uint32_t headerSectors,
                                       uint32_t firstDataSector);
