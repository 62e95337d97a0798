#pragma once

// The flat stdcall functions as the library defines them. Their exported
// names, decorated with the argument bytes, come from Sectorix.def.
#include "Sectorix/SectorixFlat.h"
