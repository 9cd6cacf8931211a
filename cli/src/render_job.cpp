#include "vantrel/cli/render_job.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "vantrel/cli/contact_sheet.h"
#include "vantrel/cli/video.h"
#include "vantrel/host/frame.h"

namespace vantrel::cli {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

int ParseFrameNumber(std::string_view text, std::string_view list) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    throw UsageError("--frames " + std::string(list) +
                     ": expected frame numbers such as 0-59, 12 or 0,10,20");
  }
  return value;
}

}  // namespace

std::vector<int> ParseFrameList(std::string_view list, int duration_frames) {
  std::set<int> frames;
  if (list.empty()) {
    for (int f = 0; f < duration_frames; ++f) frames.insert(f);
    return {frames.begin(), frames.end()};
  }
  std::string_view rest = list;
  while (true) {
    const std::size_t comma = rest.find(',');
    const std::string_view item = rest.substr(0, comma);
    const std::size_t dash = item.find('-');
    const int first = ParseFrameNumber(item.substr(0, dash), list);
    const int last =
        dash == std::string_view::npos ? first : ParseFrameNumber(item.substr(dash + 1), list);
    if (last < first) {
      throw UsageError("--frames " + std::string(list) + ": the range " + std::string(item) +
                       " runs backwards");
    }
    if (last >= duration_frames) {
      throw UsageError("--frames " + std::string(list) + ": frame " + std::to_string(last) +
                       " is outside the composition (frames 0 to " +
                       std::to_string(duration_frames - 1) + ")");
    }
    for (int f = first; f <= last; ++f) frames.insert(f);
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return {frames.begin(), frames.end()};
}

host::Resolution ParseResolution(std::string_view name) {
  if (name == "full") return host::Resolution::kFull;
  if (name == "half") return host::Resolution::kHalf;
  if (name == "third") return host::Resolution::kThird;
  if (name == "quarter") return host::Resolution::kQuarter;
  throw UsageError("--resolution " + std::string(name) +
                   ": expected one of full, half, third, quarter");
}

const char* ResolutionName(host::Resolution resolution) {
  switch (resolution) {
    case host::Resolution::kFull:
      return "full";
    case host::Resolution::kHalf:
      return "half";
    case host::Resolution::kThird:
      return "third";
    case host::Resolution::kQuarter:
      return "quarter";
  }
  return "?";
}

std::string FrameFileName(int frame) {
  char name[32];
  std::snprintf(name, sizeof name, "frame_%04d.png", frame);
  return name;
}

Raster ToRaster(const host::Image& image) {
  Raster out(image.width(), image.height());
  for (int y = 0; y < image.height(); ++y) {
    const PF_Pixel* row = image.row(y);
    for (int x = 0; x < image.width(); ++x) {
      std::uint8_t* p = out.At(x, y);
      p[0] = row[x].red;
      p[1] = row[x].green;
      p[2] = row[x].blue;
      p[3] = row[x].alpha;
    }
  }
  return out;
}

std::string FormatProgress(const RenderProgress& p) {
  char line[128];
  const double fps = p.seconds > 0 ? p.done / p.seconds : 0;
  if (p.done == 0 || fps <= 0) {
    std::snprintf(line, sizeof line, "frame %d/%d", p.done, p.total);
  } else {
    const double left = (p.total - p.done) / fps;
    std::snprintf(line, sizeof line, "frame %d/%d  %.1f fps  %.0f s left", p.done, p.total, fps,
                  left);
  }
  return line;
}

namespace {

// Frames handed out to worker threads one at a time; the first failure stops
// the hand-out and is rethrown once every worker has finished its frame.
class FrameQueue {
 public:
  FrameQueue(const std::vector<int>& frames, const std::atomic<bool>* stop)
      : frames_(frames), stop_(stop) {}

  // The next frame to render, or -1 when there is none left or work stopped.
  int Next() {
    std::lock_guard lock(mutex_);
    if (failure_ || (stop_ != nullptr && stop_->load()) || next_ >= frames_.size()) return -1;
    return frames_[next_++];
  }
  void Done() {
    std::lock_guard lock(mutex_);
    ++done_;
    changed_.notify_all();
  }
  void Fail(std::exception_ptr e) {
    std::lock_guard lock(mutex_);
    if (!failure_) failure_ = e;
    changed_.notify_all();
  }
  void WorkerExited() {
    std::lock_guard lock(mutex_);
    ++exited_;
    changed_.notify_all();
  }
  // Waits up to `period` for a change; returns true once every worker exited.
  bool Wait(int workers, std::chrono::milliseconds period, int& done) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, period);
    done = done_;
    return exited_ == workers;
  }
  std::exception_ptr failure() const { return failure_; }

 private:
  const std::vector<int>& frames_;
  const std::atomic<bool>* stop_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t next_ = 0;
  int done_ = 0;
  int exited_ = 0;
  std::exception_ptr failure_;
};

}  // namespace

RenderReport RenderScene(const host::LoadedModule& module, const host::Scene& scene,
                         const RenderRequest& request,
                         const std::function<void(const RenderProgress&)>& progress,
                         const std::atomic<bool>* stop) {
  RenderReport report;
  if (request.frames.empty()) return report;
  // The renderer lays out the text and runs the module's set-up first, so
  // that a font or module that fails leaves no output folder behind.
  const host::FrameRenderer renderer(module, scene);
  fs::create_directories(request.out_dir);

  // The frames the contact sheet shows are kept in memory as they render.
  std::map<int, Raster> kept;
  std::mutex kept_mutex;
  std::set<int> keep;
  for (int i : SampleFrames(static_cast<int>(request.frames.size()))) {
    keep.insert(request.frames[static_cast<std::size_t>(i)]);
  }

  const int jobs = std::clamp(
      request.jobs > 0 ? request.jobs : static_cast<int>(std::thread::hardware_concurrency()), 1,
      static_cast<int>(request.frames.size()));
  FrameQueue queue(request.frames, stop);
  const Clock::time_point start = Clock::now();
  std::vector<std::thread> workers;
  for (int j = 0; j < jobs; ++j) {
    workers.emplace_back([&] {
      for (int frame = queue.Next(); frame >= 0; frame = queue.Next()) {
        try {
          Raster image = ToRaster(renderer.RenderFrame(frame, request.resolution));
          WritePng(request.out_dir / FrameFileName(frame), image);
          if (keep.count(frame) != 0) {
            std::lock_guard lock(kept_mutex);
            kept.emplace(frame, std::move(image));
          }
          queue.Done();
        } catch (...) {
          queue.Fail(std::current_exception());
        }
      }
      queue.WorkerExited();
    });
  }
  int done = 0;
  for (bool finished = false; !finished;) {
    finished = queue.Wait(jobs, std::chrono::milliseconds(250), done);
    if (progress) {
      progress(RenderProgress{done, static_cast<int>(request.frames.size()),
                              std::chrono::duration<double>(Clock::now() - start).count()});
    }
  }
  for (std::thread& t : workers) t.join();
  report.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  report.frames_written = done;
  report.violations = renderer.Violations();
  if (queue.failure()) std::rethrow_exception(queue.failure());
  if (done < static_cast<int>(request.frames.size())) {
    report.interrupted = true;
    return report;
  }

  if (request.contact_sheet) {
    std::vector<ContactFrame> sheet;
    for (const auto& [frame, image] : kept) sheet.push_back(ContactFrame{frame, &image});
    report.contact_sheet = request.out_dir / "contact.png";
    WritePng(report.contact_sheet, MakeContactSheet(sheet));
  }
  if (!request.video.empty()) {
    const std::optional<fs::path> ffmpeg = FindProgram("ffmpeg");
    if (!ffmpeg) throw std::runtime_error(MissingFfmpegMessage());
    EncodeVideo(VideoJob{*ffmpeg, request.out_dir, request.frames.front(),
                         static_cast<int>(request.frames.size()), scene.comp.fps_num,
                         scene.comp.fps_den, request.video});
  }
  return report;
}

}  // namespace vantrel::cli
