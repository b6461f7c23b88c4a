// Writes the loaded firmware image into the devices of the update list, one after the
// other, through their loader.
#pragma once

#include <cstdint>
#include <vector>

namespace mvx {

// The model whose devices come back at code 1 after instruction 7, not at the loader's code.
inline constexpr std::uint16_t kFastRestartModel = 12;

class DeviceRegistry;
struct FirmwareImage;

// Fills the update list with the devices of the image's model (only older versions when
// `oldOnly` is 1), in list order. Devices of unknown model are never in the list. The list holds at
// most 256 devices; further matches are left out and counted in `leftOut`.
void BuildUpdateList(DeviceRegistry& registry, int oldOnly);
// Runs the whole download: 100, or 101 when the adapter was lost. Each device's result is in
// its result flag (UpdateResult):
// - a device whose ID another device of the registry holds at its restart code is skipped
//   before anything is sent to it (UpdateSkippedIdInUse), as is one that answers with another
//   model number when read again before its loader starts (UpdateSkippedModelChanged);
// - a device that was not updated gets the loader's closing bytes, even after an unconfirmed
//   loader start, and is pinged afterwards; one that does not answer is UpdateFailedInLoader.
// The run ends as soon as a step meets a lost adapter, or an adapter that stopped taking bytes
// (a raw write of the loader dialogue still short at its deadline, see
// AdapterLink::writeWithin): the device in progress keeps UpdateSucceeded only when its loader
// had taken the image (UpdateFailedInLoader once its loader may have started), and every
// device not yet tried is UpdateNotReached. An updated device whose rate could not be
// restored has the code it was left at in `leftAtCodes` (-1 otherwise). The loaded image is
// left as it is, so a second run sends the same bytes.
int DownloadAll(DeviceRegistry& registry);
// Progress of the running download, 0-100; readable from any thread.
int DownloadProgress(const DeviceRegistry& registry);

// Progress after `done` of `count` devices: the percentage rounded to single precision, then
// truncated (29 of 100 gives 29, 1 of 3 gives 33).
int DownloadPercent(int done, int count);

// The bytes a loader receives: the image followed by the plain 8-bit sum of its bytes.
std::vector<std::uint8_t> ImageWithChecksum(const FirmwareImage& firmware);

}  // namespace mvx
