// The lower-filter and upper-filter lists of every CD-ROM device, kept by the
// device-installation services as device properties. Each device's list is
// judged as the class key's are; before a device's list changes, the list as
// read is saved under "SOFTWARE\Kestrow\OrvaneTarvox\BackupDeviceNr<N>", N
// being the device's position in the enumeration of the pass.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Platform.h"
#include "repair/DeviceBackupRecord.h"
#include "repair/FilterList.h"
#include "repair/Places.h"

namespace tarvox {

class RunContext;

// The device-information set of the CD-ROM class (devices not present at
// the moment included), owned for a scope.
class CdromDeviceSet {
 public:
  explicit CdromDeviceSet(Platform& os)
      : os_(os), set_(os.OpenCdromDevices()) {}
  ~CdromDeviceSet() {
    if (set_ != kNoDeviceSet) os_.CloseDevices(set_);
  }
  CdromDeviceSet(const CdromDeviceSet&) = delete;
  CdromDeviceSet& operator=(const CdromDeviceSet&) = delete;
  DeviceSetHandle get() const { return set_; }

 private:
  Platform& os_;
  DeviceSetHandle set_;
};

// Walks a device set device by device.
class DeviceEnumerator {
 public:
  // Status while the enumerator stands on a device, and after a step failed
  // or when there is no set.
  static constexpr int kOnDevice = 0;
  static constexpr int kNoDevice = 18;  // ERROR_NO_MORE_FILES

  // Steps onto the first device of `set` (kNoDeviceSet: no device).
  DeviceEnumerator(Platform& os, DeviceSetHandle set);

  // Steps onto the next device; status() tells whether there was one.
  void Step();

  int status() const { return status_; }
  DeviceSetHandle set() const { return set_; }
  std::uint32_t index() const { return static_cast<std::uint32_t>(index_); }

 private:
  Platform& os_;
  DeviceSetHandle set_;
  std::int32_t index_ = -1;
  int status_ = kNoDevice;
};

// One pass over every CD-ROM device for `property` (SPDRP_LOWERFILTERS, 18,
// or SPDRP_UPPERFILTERS, 17). A device without the property, with an empty
// list, or with a list too large for the buffer is passed over, and still
// counted. A single string is rewritten as the one-entry list Windows reads
// it as. A list from which a name goes, and a single string that held more
// than its name, is saved first as read; a pruned list is written, or
// cleared when nothing remains. When the backup cannot be written the
// device's list is left as read, for its content would be kept nowhere. A
// pruned list Windows took asks for a reboot.
// The pass goes over a set the caller obtained (CdromDeviceSet): the run
// obtains one set for both passes, as obtaining and releasing a set of many
// devices costs more than all else a pass does.
void RepairDeviceFilters(Platform& os, RunContext& run, std::uint32_t property,
                         DeviceSetHandle set);

// Saves `read` as it was read for the device at position `number` under the
// backup key of that position, as "LowerFilters_1" or "UpperFilters_1"
// (after `property`) when no value name there contains that text yet, in
// any letter case, else as "..._2"; beside it, the device's `instance_id`
// and the record of the backup (see DeviceBackupRecord.h). 1 when the backup was
// written; 0 when the key could be neither created nor opened (logged with
// the key's path) or the write failed.
// `run`, when given, is told what was written.
int BackupDeviceFilters(Platform& os, std::uint32_t property, const ListAsRead& read,
                        int number, std::u16string_view instance_id, RunContext* run = nullptr);

}  // namespace tarvox
