#include "sources/DeviceApi.h"

namespace Sectorix
{

DeviceApi g_deviceApi = {
    &::CreateFileW,
    &::DeviceIoControl,
    &::GetDriveTypeW,
    &::QueryDosDeviceW,
    &::GetVolumeInformationW,
    &::VerifyVersionInfoW,
};

}
