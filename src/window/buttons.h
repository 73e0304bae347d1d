#pragma once
// The ten picture buttons of the window, by their index in Com.
namespace buttons {

constexpr int kClose = 0, kRecord = 1, kPlay = 2, kSave = 3, kOpen = 4, kKeyNames = 5, kSilencer = 6, kStop = 7,
              kLock = 8, kRandom = 9;

}  // namespace buttons
