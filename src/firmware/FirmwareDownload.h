// Writes the loaded firmware image into the devices of the update list, one after the
// other, through their loader.
#pragma once

namespace mvx {

class DeviceRegistry;

// Fills the update list with the devices of the image's model (only older versions when
// `oldOnly` is 1).
void BuildUpdateList(DeviceRegistry& registry, int oldOnly);
// Runs the whole download; 100 or 101 (the final purge's result). Per-device outcomes are in
// the update list's result flags.
int DownloadAll(DeviceRegistry& registry);
// Progress of the running download, 0-100; readable from any thread.
int DownloadProgress(const DeviceRegistry& registry);

}  // namespace mvx
