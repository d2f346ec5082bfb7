#include "engine/update_sequence.h"

#include "config/install_description.h"

namespace {

RunResult Ended(RunEnd end, int index = 0) {
  RunResult result{};
  result.end = end;
  result.index = index;
  result.report = {EntryWrite::Written, 0, {}};
  return result;
}

// Where copy item `item` comes from: its disc, or the folder of an earlier
// disc or of the program. RunEnd::Completed to go on.
RunEnd SourceOf(const RunHooks& hooks, const CopyItem& item, char (&root)[kPathCapacity],
                bool* rootSet) {
  if (item.disc < 0 || item.disc >= kDiscCount) return RunEnd::CopyFailed;
  if (item.disc != 0) {
    if (!hooks.findDisc(hooks.context, item.disc, root)) return RunEnd::Cancelled;
    *rootSet = true;
  } else if (!*rootSet) {
    // No disc yet in this run: the item lies beside the updater, which may
    // itself have come on a disc or in a folder with extra files.
    if (!hooks.programFolder(hooks.context, root)) return RunEnd::CopyFailed;
    *rootSet = true;
  }
  return RunEnd::Completed;
}

}  // namespace

RunResult RunUpdateItems(UpdateEngine* engine, const char* installPath, const PackageView& package,
                         const UpdateLists& lists, bool overwriteOnly, const RunHooks& hooks) {
  // From here on every change to the installation is journaled first.
  Refusal refusal = BeginUpdate(engine, installPath, package, lists, overwriteOnly);
  if (refusal.refused) {
    RunResult result = Ended(RunEnd::Refused, refusal.index);
    result.refusal = refusal;
    return result;
  }
  hooks.begun(hooks.context, engine->totalBytes);
  for (int i = 0; i < lists.updateCount; ++i) {
    EntryWriteReport report = WriteUpdateItem(engine, i, hooks.progress);
    if (report.result != EntryWrite::Written) {
      RunResult result = Ended(RunEnd::WriteFailed, i);
      result.report = report;
      return result;
    }
    hooks.itemWritten(hooks.context);
  }
  char root[kPathCapacity];
  bool rootSet = false;
  for (int i = 0; i < lists.copyCount; ++i) {
    const CopyItem& item = lists.copies[i];
    RunEnd found = SourceOf(hooks, item, root, &rootSet);
    if (found != RunEnd::Completed) return Ended(found, i);
    // What the copy will change goes into the journal before it starts.
    DiscCopy copy;
    if (!PlanDiscCopy(engine, root, item.path, &copy)) return Ended(RunEnd::CopyFailed, i);
    hooks.copyPlanned(hooks.context, item, copy.bytes);
    const CopyHooks copyHooks{hooks.context, hooks.progress, hooks.cancelled, hooks.retryRead};
    CopyResult copied = CopyFromDisc(engine, copy, copyHooks);
    hooks.copyEnded(hooks.context);
    if (copied == CopyResult::Aborted) return Ended(RunEnd::Cancelled, i);
    if (copied != CopyResult::Done) return Ended(RunEnd::CopyFailed, i);
  }
  return Ended(CommitUpdate(engine) ? RunEnd::Completed : RunEnd::NotRecorded);
}
