#include "package/extract_entry.h"

#include "app/updater_state.h"
#include "config/error_boxes.h"
#include "config/update_items.h"
#include "resources/texts.h"

PackageView OwnPackage() {
  return {updaterState.package, updaterState.packageBytes, updaterState.packageSize,
          updaterState.entryDigests};
}

void ShowEntryWriteBoxes(const EntryWriteReport& report) {
  switch (report.result) {
    case EntryWrite::Missing:
      ShowUpdateError(kTextEntryMissing);
      break;
    case EntryWrite::NoSpace: {
      char message[kPathCapacity];
      FormatShortageText(message, report.drive, report.shortfall, false);
      ShowUpdateError(message);
      break;
    }
    case EntryWrite::Corrupt:
      ShowUpdateError(kTextResourceReadError);
      break;
    case EntryWrite::NoMemory:
      ShowUpdateError(kTextNoMemory);
      break;
    case EntryWrite::Written:
    case EntryWrite::Failed:
      break;
  }
}

int ExtractEntry(const char* name, const char* destinationPath) {
  EntryWriteReport report = WriteEntryReplacing(OwnPackage(), name, destinationPath);
  ShowEntryWriteBoxes(report);
  return report.result == EntryWrite::Written ? 1 : 0;
}

int WriteFileWithTime(const char* path, const void* data, uint32_t length,
                      const FileTime* fileTime) {
  FsTimes times{};
  if (fileTime) {
    uint64_t time = fileTime->low | (uint64_t{fileTime->high} << 32);
    times = {time, time, time};
  }
  return WriteFileReplacing(path, data, length, fileTime ? &times : nullptr) ? 1 : 0;
}
