// Background loading: a queue of entries, a loader thread that keeps at most
// ThreadPoolSize readers running, and the completion that stores each picture.
#include <algorithm>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_helpers.h"
#include "imaging/io/format_detect.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/io/io_params.h"
#include "imaging/views/multi_image_io.h"
#include "imaging/views/shell_thumbnail.h"
#include "imaging/views/thumb_grid.h"
#include "platform/rtl/sysutils.h"
#include "platform/ui/windows.h"

namespace {

// While readers run, the loader also looks every so often for a reader that
// ended without telling (a file that vanished raises before the finish call).
constexpr uint32_t kLoaderCheckMs = 200;

}  // namespace

// ---- TIEStarter ----

TIEStarter::TIEStarter(TImageLibMView* grid) : TThread(false), FGrid(grid) {}

TIEStarter::~TIEStarter() = default;

void TIEStarter::Execute() {
  FWakeUp.WaitFor();
  while (!Terminated()) {
    bool idle;
    {
      std::lock_guard<std::recursive_mutex> guard(FGrid->FLock);
      if (Terminated()) break;
      FGrid->StartJobs();
      idle = FGrid->FQueue.empty() && FGrid->FJobs.empty();
    }
    if (Terminated()) break;
    FWakeUp.WaitFor(idle ? kInfiniteWait : kLoaderCheckMs);
  }
}

// ---- the queue ----

void TImageLibMView::WakeLoader() {
  if (FStarter) FStarter->WakeUp().SetEvent();
}

bool TImageLibMView::IsCellVisible(int index) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  TIEImageInfo* e = Entry(index);
  if (!e) return false;
  // The view as the last paint saw it: the loader thread asks too.
  const RECT client{0, 0, FLoadView.right - FLoadView.left, FLoadView.bottom - FLoadView.top};
  const int x = e->X - FLoadView.left, y = e->Y - FLoadView.top;
  return RectsOverlap(x, y, x + FThumbWidth - 1, y + FThumbHeight - 1, client) && client.right > 0 &&
         client.bottom > 0;
}

bool TImageLibMView::IsInLookahead(int index) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  return std::find(FLookahead.begin(), FLookahead.end(), index) != FLookahead.end();
}

int TImageLibMView::QueueIndexOf(int index) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  auto it = std::find(FQueue.begin(), FQueue.end(), index);
  return it == FQueue.end() ? -1 : static_cast<int>(it - FQueue.begin());
}

std::vector<int> TImageLibMView::QueuedEntries() {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  return FQueue;
}

int TImageLibMView::RunningJobs() {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  int n = 0;
  for (auto& j : FJobs)
    if (j.io->Tag() != -1) ++n;
  return n;
}

void TImageLibMView::PruneQueue() {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (KeepDistance == -1) return;
  FQueue.erase(std::remove_if(FQueue.begin(), FQueue.end(),
                              [this](int i) { return !IsCellVisible(i) && !IsInLookahead(i); }),
               FQueue.end());
}

void TImageLibMView::PurgeJobs() {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  for (auto& j : FJobs) {
    // A reader whose thread has ended without its finish call failed.
    if (j.io->Tag() != -1 && j.started && !j.io->IOThreadsRunning() && !j.finishing) FinishJob(j.io.get(), true);
  }
  FJobs.erase(std::remove_if(FJobs.begin(), FJobs.end(), [](const TJob& j) { return j.io->Tag() == -1; }),
              FJobs.end());
  for (auto& j : FJobs) {
    const intptr_t tag = j.io->Tag();
    if (tag >= 0 && !IsCellVisible(static_cast<int>(tag)) && !IsInLookahead(static_cast<int>(tag))) {
      j.io->SetTag(-2);
      j.io->SetAborting(true);
    }
  }
}

bool TImageLibMView::RequestLoad(int index, int position) {
  // The loaders' parameter sets are filled on completion; the component that
  // holds them is made here, on the grid's thread, never on a reader's.
  if (!FMIO) GetMIO();
  std::unique_lock<std::recursive_mutex> lock(FLock);
  TIEImageInfo* e = Entry(index);
  if (!e) return false;
  std::string file;
  int frame = 0;
  if (SplitFrameReference(e->name, file, frame)) return false;
  bool result = true;
  if (!e->image) {
    PruneQueue();
    // A position past the queue appends: clamping it to the last slot would
    // put the entry before the last one and load the cells out of order.
    if (position >= 0) position = std::clamp(position, 0, static_cast<int>(FQueue.size()));
    const int queued = QueueIndexOf(index);
    bool running = false;
    for (auto& j : FJobs)
      if (j.io->Tag() == index) running = true;
    if (queued >= 0) {
      if (position >= 0 && position != queued) {
        FQueue.erase(FQueue.begin() + queued);
        FQueue.insert(FQueue.begin() + std::min(position, static_cast<int>(FQueue.size())), index);
      }
    } else if (!running) {
      PurgeJobs();
      if (e->ID >= 0 && (OnImageIDRequest || OnImageIDRequestEx)) result = false;
      else if (e->name.empty() || e->loadFailed) result = false;
      else if (position < 0) FQueue.push_back(index);
      else FQueue.insert(FQueue.begin() + std::min(position, static_cast<int>(FQueue.size())), index);
    }
  }
  lock.unlock();
  WakeLoader();
  return result;
}

void TImageLibMView::CancelLoad(int index) {
  {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    FQueue.erase(std::remove(FQueue.begin(), FQueue.end(), index), FQueue.end());
    FLookahead.erase(std::remove(FLookahead.begin(), FLookahead.end(), index), FLookahead.end());
    for (auto& j : FJobs)
      if (j.io->Tag() == index) {
        j.io->SetTag(-2);
        j.io->SetAborting(true);
      }
  }
  WakeLoader();
}

std::vector<TImageLibMView::TJob> TImageLibMView::TakeJobs() {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  FLookahead.clear();
  FQueue.clear();
  for (auto& j : FJobs) {
    if (j.io->Tag() >= 0) j.io->SetTag(-2);
    j.io->SetAborting(true);
  }
  std::vector<TJob> taken;
  taken.swap(FJobs);
  return taken;
}

void TImageLibMView::StopLoading() {
  // The jobs leave the list under the lock, so the loader thread cannot free
  // a reader while it is waited for here; their completions find no job and
  // keep nothing.
  std::vector<TJob> taken = TakeJobs();
  for (TJob& j : taken) j.io->WaitThreads(true);
  taken.clear();
  WakeLoader();
}

// ---- the loader's work, under the grid's lock ----

void TImageLibMView::StartJobs() {
  PurgeJobs();
  PruneQueue();
  while (!FStarter->Terminated() && !FQueue.empty() && static_cast<int>(FJobs.size()) < FThreadPoolSize) {
    const int index = FQueue.front();
    FQueue.erase(FQueue.begin());
    TIEImageInfo* e = Entry(index);
    if (!e || e->image || e->name.empty()) continue;
    TJob job;
    job.bitmap = std::make_unique<TIEBitmap>();
    job.bitmap->SetLocation(ieMemory);
    job.io = std::make_unique<TImageLibIO>(nullptr);
    TImageLibIO* io = job.io.get();
    io->SetTag(index);
    io->AttachBitmap(job.bitmap.get());
    PrepareReader(*io, *e);
    io->OnFinishWork = [this](TObject* sender) { LoadDone(sender); };
    io->Asynchronous = true;
    FJobs.push_back(std::move(job));
    TJob& added = FJobs.back();
    const int running = static_cast<int>(FJobs.size());
    if (running > FPeakRunning.load()) FPeakRunning.store(running);
    const std::string name = e->name;
    const std::string ext = LowerCase(ExtractFileExt(name));
    added.started = true;
    try {
      if (ext == ".emf" || ext == ".wmf") {
        io->LoadMetafileFile(UTF8ToWide(name), FThumbWidth, true, -1);
      } else if (IsVideoFileName(name)) {
        io->SetAborting(!LoadShellThumbnail(*added.bitmap, name, FThumbWidth, FThumbHeight));
        LoadDone(io);
      } else {
        io->LoadFile(name);
      }
    } catch (...) {
      io->SetAborting(true);
      if (io->Tag() != -1) FinishJob(io, true);
    }
  }
}

void TImageLibMView::FinishJob(TImageLibIO* reader, bool aborted) {
  const intptr_t tag = reader->Tag();
  if (tag >= 0) {
    if (TIEImageInfo* e = Entry(static_cast<int>(tag))) {
      // A failed entry is read once more while painting, where its placeholder
      // is made (or the entry removed) on the grid's own thread.
      if (aborted) e->loadFailed = true;
    }
  }
  reader->SetTag(-1);
  WakeLoader();
  if (HWND target = FPostTarget.load()) PostMessage(target, kIEViewMsgUpdate, 0, 0);
}

void TImageLibMView::LoadDone(TObject* sender) {
  auto* reader = dynamic_cast<TImageLibIO*>(sender);
  if (!reader) return;
  std::unique_lock<std::recursive_mutex> lock(FLock);
  TJob* job = nullptr;
  for (auto& j : FJobs)
    if (j.io.get() == reader) job = &j;
  if (!job) return;
  TIEBitmap* picture = job->bitmap.get();
  if (FDestroying.load() || !picture || reader->Tag() < 0) {
    // Cancelled or going away: the picture is not kept.
    reader->SetTag(-1);
    lock.unlock();
    WakeLoader();
    return;
  }
  const bool aborted = reader->Aborting() || picture->IsEmpty();
  job->finishing = true;
  lock.unlock();
  // The thumbnail is made outside the lock, so painting goes on meanwhile.
  std::unique_ptr<TIEBitmap> thumb;
  if (!aborted && FStoreType == ietThumb) thumb = MakeThumbnail(*picture);
  lock.lock();
  const intptr_t tag = reader->Tag();  // moved by inserts and deletes meanwhile, or cancelled
  if (tag >= 0 && !aborted) {
    const int index = static_cast<int>(tag);
    if (TIEImageInfo* e = Entry(index)) {
      if (FMIO && FMIO->ParamsAt(index)) FMIO->ParamsAt(index)->Assign(&reader->Params());
      e->background = reader->Background();
      SetImage(index, thumb ? thumb.get() : picture);
      if (e->image && reader->Params().StoredWidth > 0 && reader->Params().StoredHeight > 0) {
        FImageList->SetOriginalWidth(e->image, reader->Params().StoredWidth);
        FImageList->SetOriginalHeight(e->image, reader->Params().StoredHeight);
      }
    }
  }
  FinishJob(reader, aborted);
}
