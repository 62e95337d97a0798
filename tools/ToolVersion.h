#pragma once

// The version every tool answers to --version: that of the library it
// ships with.
const char SectorixToolsVersion[] = "1.0";
