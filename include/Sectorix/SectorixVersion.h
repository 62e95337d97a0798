/*
 * The version of this Sectorix.dll, the one number that its version
 * resource, the console tools' --version and the release's name carry:
 * major.minor.patch. C89 and C++, and usable in resource scripts.
 */
#ifndef SECTORIX_SECTORIXVERSION_H
#define SECTORIX_SECTORIXVERSION_H

#define SECTORIX_VERSION_STRING "1.0.0"

#endif
