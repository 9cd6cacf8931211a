#include "vantrel/cli/preview_server.h"

#include <httplib.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <deque>
#include <functional>
#include <iostream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "preview_assets.h"
#include "vantrel/cli/pieces.h"
#include "vantrel/cli/preview_request.h"
#include "vantrel/cli/preview_scene.h"
#include "vantrel/cli/render_job.h"
#include "vantrel/cli/video.h"

extern char** environ;

namespace vantrel::cli {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// A refusal: the status and its one-line reason.
struct HttpError {
  int status;
  std::string reason;
};

void Refuse(httplib::Response& res, int status, const std::string& reason) {
  res.status = status;
  res.set_content(reason + "\n", "text/plain; charset=utf-8");
}

// Renders run one at a time on one thread, in the order asked. A request
// names the view it is for; a newer request for the same view takes the place
// of one still waiting, which is answered "superseded" and never rendered, so
// a dragged slider's newest value is always the next one drawn.
class RenderQueue {
 public:
  RenderQueue() : worker_([this] { Work(); }) {}
  ~RenderQueue() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    worker_.join();
  }

  // Runs `work` on the render thread and waits for it. Returns false when a
  // newer request for `view` took its place or the queue is stopping.
  bool Run(const std::string& view, std::function<void()> work) {
    auto job = std::make_shared<Job>();
    job->view = view;
    job->work = std::move(work);
    std::unique_lock lock(mutex_);
    if (stopping_) return false;
    if (!view.empty()) {
      for (auto it = waiting_.begin(); it != waiting_.end();) {
        if ((*it)->view == view) {
          (*it)->state = State::kSuperseded;
          it = waiting_.erase(it);
        } else {
          ++it;
        }
      }
    }
    waiting_.push_back(job);
    changed_.notify_all();
    changed_.wait(lock, [&] { return job->state != State::kWaiting; });
    if (job->error) std::rethrow_exception(job->error);
    return job->state == State::kDone;
  }

 private:
  enum class State { kWaiting, kDone, kSuperseded };
  struct Job {
    std::string view;
    std::function<void()> work;
    State state = State::kWaiting;
    std::exception_ptr error;
  };

  void Work() {
    std::unique_lock lock(mutex_);
    while (true) {
      changed_.wait(lock, [&] { return stopping_ || !waiting_.empty(); });
      if (stopping_) break;
      std::shared_ptr<Job> job = waiting_.front();
      waiting_.pop_front();
      lock.unlock();
      try {
        job->work();
      } catch (...) {
        job->error = std::current_exception();
      }
      lock.lock();
      job->state = State::kDone;
      changed_.notify_all();
    }
    for (auto& job : waiting_) job->state = State::kSuperseded;
    waiting_.clear();
    changed_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::shared_ptr<Job>> waiting_;
  bool stopping_ = false;
  std::thread worker_;
};

// Server-sent events to every open page: the newest of each kind is kept, so
// that a page that connects late still learns the export's state.
class EventStream {
 public:
  void Publish(const std::string& kind, const json& data) {
    std::lock_guard lock(mutex_);
    ++sequence_;
    latest_[kind] = Event{sequence_, "event: " + kind + "\ndata: " + data.dump() + "\n\n"};
    changed_.notify_all();
  }
  void Close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    changed_.notify_all();
  }
  // Waits up to `period` for events after `seen`; returns their text (empty
  // when none) and advances `seen`. Returns nullopt once closed.
  std::optional<std::string> Next(std::uint64_t& seen, std::chrono::milliseconds period) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, period, [&] { return closed_ || sequence_ > seen; });
    if (closed_) return std::nullopt;
    std::vector<const Event*> fresh;
    for (const auto& [kind, event] : latest_) {
      if (event.sequence > seen) fresh.push_back(&event);
    }
    std::sort(fresh.begin(), fresh.end(),
              [](const Event* a, const Event* b) { return a->sequence < b->sequence; });
    std::string text;
    for (const Event* e : fresh) text += e->text;
    seen = sequence_;
    return text;
  }

 private:
  struct Event {
    std::uint64_t sequence = 0;
    std::string text;
  };
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, Event> latest_;
  std::uint64_t sequence_ = 0;
  bool closed_ = false;
};

double Milliseconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since)
      .count();
}

// The host's image (alpha, red, green, blue in padded rows) as RGBA rows.
std::string RgbaBytes(const host::Image& image) {
  std::string out(static_cast<std::size_t>(image.width()) * image.height() * 4, '\0');
  char* p = out.data();
  for (int y = 0; y < image.height(); ++y) {
    const PF_Pixel* row = image.row(y);
    for (int x = 0; x < image.width(); ++x, p += 4) {
      p[0] = static_cast<char>(row[x].red);
      p[1] = static_cast<char>(row[x].green);
      p[2] = static_cast<char>(row[x].blue);
      p[3] = static_cast<char>(row[x].alpha);
    }
  }
  return out;
}

// The corners of a piece's box carried by its own matrix (into the layer's
// output) and the layer's transform (into the composition), in frame pixels.
json PieceQuad(const ObservedPiece& piece, const host::LayerTransform& transform, int frame,
               int n) {
  const PF_FloatMatrix to_comp = host::LayerToCompMatrix(transform, frame, n);
  auto apply = [](const PF_FloatMatrix& m, double x, double y) {
    return std::pair<double, double>{x * m.mat[0][0] + y * m.mat[1][0] + m.mat[2][0],
                                     x * m.mat[0][1] + y * m.mat[1][1] + m.mat[2][1]};
  };
  json quad = json::array();
  const PF_Rect& b = piece.box;
  for (auto [x, y] : {std::pair<double, double>{b.left, b.top},
                      {b.right, b.top},
                      {b.right, b.bottom},
                      {b.left, b.bottom}}) {
    // The piece's matrix takes the copied box, its corner at the origin, to
    // where it is drawn in the layer; a piece never drawn stays where it was.
    const auto in_layer =
        piece.matrices > 0 ? apply(piece.matrix, x - b.left, y - b.top) : std::pair{x, y};
    const auto c = apply(to_comp, in_layer.first, in_layer.second);
    quad.push_back({c.first, c.second});
  }
  return quad;
}

}  // namespace

struct PreviewServer::Impl {
  PreviewOptions options;
  std::unique_ptr<host::LoadedModule> module;
  std::unique_ptr<PreviewScene> scene;
  mutable std::mutex scene_mutex;
  httplib::Server server;
  std::unique_ptr<RenderQueue> renders;
  EventStream events;
  std::thread listener;
  std::thread watcher;
  std::mutex watch_mutex;
  std::condition_variable watch_wake;
  bool stopping = false;
  int port = 0;

  std::mutex export_mutex;
  std::thread export_thread;
  std::atomic<bool> export_running{false};
  std::atomic<bool> export_stop{false};

  explicit Impl(PreviewOptions o) : options(std::move(o)) {
    if (options.out_dir.empty()) options.out_dir = fs::path("out") / options.scene.stem();
    module = host::LoadedModule::Load(options.module);
    scene = std::make_unique<PreviewScene>(*module, options.scene);
  }

  std::string Authority() const {
    // A server on every address is reached on this machine by the loopback.
    const bool any = options.host == "0.0.0.0" || options.host == "::";
    return (any ? std::string("127.0.0.1") : options.host) + ":" + std::to_string(port);
  }

  // Host must name this server: DNS rebinding points a name the attacker owns
  // at this address, so a name other than ours is refused. On every address
  // (--host 0.0.0.0) any address given as numbers will do. Origin, which
  // browsers send with any request a script makes, must be the page's own.
  std::optional<std::string> Foreign(const httplib::Request& req) const {
    const std::string suffix = ":" + std::to_string(port);
    const std::string host = req.get_header_value("Host");
    const bool ours_by_port = host.size() > suffix.size() &&
                              host.compare(host.size() - suffix.size(), suffix.size(), suffix) == 0;
    const std::string name = ours_by_port ? host.substr(0, host.size() - suffix.size()) : "";
    bool known = false;
    if (options.host == "0.0.0.0" || options.host == "::") {
      known = name == "localhost" ||
              (!name.empty() && name.find_first_not_of("0123456789.") == std::string::npos) ||
              (name.size() > 2 && name.front() == '[' && name.back() == ']' &&
               name.find_first_not_of("0123456789abcdefABCDEF:.", 1) == name.size() - 1);
    } else if (options.host == "127.0.0.1" || options.host == "localhost") {
      known = name == "127.0.0.1" || name == "localhost";
    } else {
      known = name == options.host;
    }
    if (!known) {
      return "Host \"" + host.substr(0, 80) + "\" is not this server's address " + Authority();
    }
    if (req.has_header("Origin") && req.get_header_value("Origin") != "http://" + host) {
      return "Origin \"" + req.get_header_value("Origin").substr(0, 80) +
             "\" is not this server's page";
    }
    return std::nullopt;
  }

  void PublishScene() {
    json state;
    {
      std::lock_guard lock(scene_mutex);
      state = {{"version", scene->version()}, {"error", scene->error()}};
    }
    events.Publish("scene", state);
  }

  // Wraps a handler: HttpError and EditError become 4xx answers with their
  // reason, anything else a 500; the server goes on either way.
  httplib::Server::Handler Guard(
      std::function<void(const httplib::Request&, httplib::Response&)> f) {
    return [f = std::move(f)](const httplib::Request& req, httplib::Response& res) {
      try {
        f(req, res);
      } catch (const HttpError& e) {
        Refuse(res, e.status, e.reason);
      } catch (const EditError& e) {
        Refuse(res, 422, e.what());
      } catch (const std::exception& e) {
        Refuse(res, 500, e.what());
      }
    };
  }

  // The frame as raw RGBA rows (straight alpha), sized in the headers:
  // nothing to encode or decode, which on the loopback is the fastest way.
  // `received` is when the request arrived (before its edit, if any).
  void AnswerFrame(
      const PreviewRequest& request, httplib::Response& res,
      std::chrono::steady_clock::time_point received = std::chrono::steady_clock::now()) {
    std::shared_ptr<const host::FrameRenderer> renderer;
    int version = 0;
    {
      std::lock_guard lock(scene_mutex);
      renderer = scene->renderer();
      version = scene->version();
    }
    const int frame = request.frame.value_or(0);
    const host::Resolution resolution = request.resolution;
    std::string bytes;
    int width = 0;
    int height = 0;
    double render_ms = 0;
    const double edit_ms = Milliseconds(received);
    if (!renders->Run(request.view, [&] {
          const auto start = std::chrono::steady_clock::now();
          const host::Image image = renderer->RenderFrame(frame, resolution);
          render_ms = Milliseconds(start);
          width = image.width();
          height = image.height();
          bytes = RgbaBytes(image);
        })) {
      throw HttpError{409, "superseded by a newer request for this view"};
    }
    res.set_header("X-Frame-Width", std::to_string(width));
    res.set_header("X-Frame-Height", std::to_string(height));
    res.set_header("X-Scene-Version", std::to_string(version));
    // How many protocol findings the host has made, so that the page can
    // fetch them when the number changes.
    res.set_header("X-Host-Findings", std::to_string(renderer->Violations().size()));
    // What the request spent where, for the page's measurements.
    char timing[96];
    std::snprintf(timing, sizeof timing, "edit;dur=%.2f, render;dur=%.2f, total;dur=%.2f", edit_ms,
                  render_ms, Milliseconds(received));
    res.set_header("Server-Timing", timing);
    res.body = std::move(bytes);
    res.set_header("Content-Type", "application/octet-stream");
  }

  using Request = httplib::Request;
  using Response = httplib::Response;

  void State(Response& res) {
    json state;
    std::vector<std::string> violations;
    {
      std::lock_guard lock(scene_mutex);
      state = scene->Describe();
      violations = scene->renderer()->Violations();
    }
    state["findings"] = violations.size();
    if (violations.size() > 20) violations.resize(20);
    state["violations"] = violations;
    state["resolution"] = ResolutionName(options.resolution);
    state["module"] = module->path().filename().string();
    state["export_folder"] = options.out_dir.string();
    state["video"] = FindProgram("ffmpeg").has_value();
    res.set_content(state.dump(), "application/json");
  }

  // Every piece's box on the frame, in delay order.
  void Pieces(const PreviewRequest& request, Response& res) {
    host::Scene snapshot;
    {
      std::lock_guard lock(scene_mutex);
      snapshot = scene->scene();
    }
    const int frame = request.frame.value_or(0);
    const host::Resolution resolution = request.resolution;
    PiecesView view;
    renders->Run("", [&] { view = ObservePieces(*module, snapshot, frame, resolution); });
    const host::LayerTransform transform = host::TransformOf(snapshot.layer);
    json pieces = json::array();
    for (std::size_t k = 0; k < view.pieces.size(); ++k) {
      pieces.push_back(
          {{"order", k},
           {"quad", PieceQuad(view.pieces[k], transform, frame, static_cast<int>(resolution))}});
    }
    res.set_content(json{{"frame", frame}, {"pieces", pieces}}.dump(), "application/json");
  }

  // A control or layer edit. With a frame asked for, the answer is that
  // frame: an edit and its picture in one round trip.
  void Edit(const PreviewRequest& request, Response& res,
            std::chrono::steady_clock::time_point received) {
    int version = 0;
    {
      std::lock_guard lock(scene_mutex);
      if (request.action == PreviewAction::kControl) {
        scene->SetControl(request.control, request.value);
      } else {
        scene->SetLayer(request.value);
      }
      version = scene->version();
    }
    if (request.frame) return AnswerFrame(request, res, received);
    res.set_content(json{{"version", version}}.dump(), "application/json");
  }

  void Save(Response& res) {
    {
      std::lock_guard lock(scene_mutex);
      scene->Save();
    }
    res.set_content(json{{"saved", options.scene.string()}}.dump(), "application/json");
  }

  void Export(const PreviewRequest& request, Response& res) {
    StartExport(request);
    res.status = 202;
    res.set_content(json{{"folder", options.out_dir.string()}}.dump(), "application/json");
  }

  // Server-sent events until the page goes away or the server stops.
  void Events(Response& res) {
    auto seen = std::make_shared<std::optional<std::uint64_t>>();
    res.set_chunked_content_provider(
        "text/event-stream", [this, seen](std::size_t, httplib::DataSink& sink) {
          if (!*seen) {
            *seen = 0;
            const std::string hello = ": connected\n\n";
            if (!sink.write(hello.data(), hello.size())) return false;
          }
          const auto text = events.Next(**seen, std::chrono::milliseconds(500));
          if (!text) {
            sink.done();
            return true;
          }
          // A comment now and then finds a page that went away.
          const std::string out = text->empty() ? std::string(": \n\n") : *text;
          return sink.write(out.data(), out.size());
        });
  }

  void Refusals() {
    server.set_payload_max_length(options.max_body);
    server.set_pre_routing_handler([this](const Request& req, Response& res) {
      if (auto why = Foreign(req)) {
        Refuse(res, 403, *why);
        return httplib::Server::HandlerResponse::Handled;
      }
      res.set_header("Cache-Control", "no-store");
      res.set_header("X-Content-Type-Options", "nosniff");
      return httplib::Server::HandlerResponse::Unhandled;
    });
    server.set_error_handler([](const Request&, Response& res) {
      if (!res.body.empty()) return;
      const char* reason = res.status == 404   ? "no such page"
                           : res.status == 413 ? "the request is larger than this server reads"
                           : res.status == 414 ? "the address is too long"
                                               : "the request cannot be served";
      Refuse(res, res.status, reason);
    });
    server.set_exception_handler([](const Request&, Response& res, std::exception_ptr e) {
      std::string what = "unexpected failure";
      try {
        std::rethrow_exception(e);
      } catch (const std::exception& x) {
        what = x.what();
      } catch (...) {
      }
      Refuse(res, 500, what);
    });
  }

  void Routes() {
    Refusals();
    for (std::size_t i = 0; i < kPreviewAssetCount; ++i) {
      const PreviewAsset& a = kPreviewAssets[i];
      const std::string path =
          std::string("/") + (std::string(a.name) == "index.html" ? "" : a.name);
      server.Get(path, [&a](const Request&, Response& res) {
        res.set_content(reinterpret_cast<const char*>(a.data), a.size, a.type);
      });
    }
    // Every address under /api/ in either method is decoded in one place,
    // which also answers the wrong method and an unknown address.
    const auto api = Guard([this](const Request& req, Response& res) { Serve(req, res); });
    server.Get(R"(/api/.*)", api);
    server.Post(R"(/api/.*)", api);
  }

  void Serve(const Request& req, Response& res) {
    const auto received = std::chrono::steady_clock::now();
    int duration = 0;
    {
      std::lock_guard lock(scene_mutex);
      duration = scene->scene().comp.duration_frames;
    }
    auto decoded = DecodePreviewRequest(req.method, req.path, req.params, req.body, duration,
                                        options.resolution);
    if (const auto* refusal = std::get_if<RequestRefusal>(&decoded)) {
      throw HttpError{refusal->status, refusal->reason};
    }
    const PreviewRequest& request = std::get<PreviewRequest>(decoded);
    switch (request.action) {
      case PreviewAction::kState:
        return State(res);
      case PreviewAction::kFrame:
        return AnswerFrame(request, res, received);
      case PreviewAction::kPieces:
        return Pieces(request, res);
      case PreviewAction::kEvents:
        return Events(res);
      case PreviewAction::kControl:
      case PreviewAction::kLayer:
        return Edit(request, res, received);
      case PreviewAction::kSave:
        return Save(res);
      case PreviewAction::kExport:
        return Export(request, res);
      case PreviewAction::kCancelExport:
        export_stop = true;
        res.set_content("{}", "application/json");
        return;
    }
  }

  void StartExport(const PreviewRequest& asked) {
    std::lock_guard lock(export_mutex);
    if (export_running) throw HttpError{409, "an export is already running"};
    if (export_thread.joinable()) export_thread.join();
    RenderRequest request;
    request.resolution = asked.resolution;
    host::Scene snapshot;
    {
      std::lock_guard scene_lock(scene_mutex);
      snapshot = scene->scene();
    }
    request.frames = ParseFrameList("", snapshot.comp.duration_frames);
    request.out_dir = options.out_dir;
    request.jobs = 1;
    if (asked.video && FindProgram("ffmpeg")) {
      request.video = options.out_dir / (options.scene.stem().string() + ".mp4");
    }
    export_stop = false;
    export_running = true;
    events.Publish("export", {{"running", true}, {"done", 0}, {"total", request.frames.size()}});
    export_thread = std::thread([this, request, snapshot] {
      json result{{"running", false}, {"total", request.frames.size()}};
      try {
        const RenderReport report = RenderScene(
            *module, snapshot, request,
            [this](const RenderProgress& p) {
              events.Publish("export", {{"running", true},
                                        {"done", p.done},
                                        {"total", p.total},
                                        {"seconds", p.seconds}});
            },
            &export_stop);
        result["done"] = report.frames_written;
        result["seconds"] = report.seconds;
        result["interrupted"] = report.interrupted;
        result["folder"] = request.out_dir.string();
        if (!report.contact_sheet.empty()) result["contact_sheet"] = report.contact_sheet.string();
        if (!request.video.empty() && !report.interrupted) result["video"] = request.video.string();
      } catch (const std::exception& e) {
        result["error"] = e.what();
      }
      export_running = false;
      events.Publish("export", result);
    });
  }

  void Watch() {
    std::unique_lock lock(watch_mutex);
    while (!stopping) {
      watch_wake.wait_for(lock, std::chrono::milliseconds(options.poll_milliseconds));
      if (stopping) break;
      bool changed = false;
      {
        std::lock_guard scene_lock(scene_mutex);
        changed = scene->Reload();
      }
      if (changed) PublishScene();
    }
  }
};

PreviewServer::PreviewServer(PreviewOptions options)
    : impl_(std::make_unique<Impl>(std::move(options))) {}

PreviewServer::~PreviewServer() { Stop(); }

int PreviewServer::Start() {
  Impl& m = *impl_;
  m.renders = std::make_unique<RenderQueue>();
  // Enough threads for a page's parallel connections, its event stream and
  // several clients at once; requests past these wait their turn.
  m.server.new_task_queue = [] { return new httplib::ThreadPool(24); };
  m.server.set_keep_alive_timeout(2);
  // Answers are written as headers, then body: without this the body waits
  // for the client's delayed acknowledgement (40 ms on Linux).
  m.server.set_tcp_nodelay(true);
  // The library's default also sets SO_REUSEPORT, with which a second server
  // would share a port already in use instead of being refused it.
  m.server.set_socket_options([](int sock) {
    const int yes = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  m.Routes();
  if (m.options.port == 0) {
    m.port = m.server.bind_to_any_port(m.options.host);
  } else if (m.server.bind_to_port(m.options.host, m.options.port)) {
    m.port = m.options.port;
  } else {
    m.port = -1;
  }
  if (m.port <= 0) {
    throw std::runtime_error("cannot listen on " + m.options.host + ":" +
                             std::to_string(m.options.port) +
                             " (in use? try --port with another number, or 0 for any)");
  }
  m.listener = std::thread([&m] { m.server.listen_after_bind(); });
  m.watcher = std::thread([&m] { m.Watch(); });
  return m.port;
}

void PreviewServer::Stop() {
  Impl& m = *impl_;
  {
    std::lock_guard lock(m.watch_mutex);
    if (m.stopping) return;
    m.stopping = true;
  }
  m.watch_wake.notify_all();
  if (m.watcher.joinable()) m.watcher.join();
  m.export_stop = true;
  {
    std::lock_guard lock(m.export_mutex);
    if (m.export_thread.joinable()) m.export_thread.join();
  }
  m.events.Close();
  m.server.stop();
  if (m.listener.joinable()) m.listener.join();
  m.renders.reset();
}

std::string PreviewServer::Url() const { return "http://" + impl_->Authority() + "/"; }

namespace {

std::atomic<bool> g_interrupted{false};

extern "C" void OnInterrupt(int) { g_interrupted.store(true); }

}  // namespace

int RunPreview(const PreviewOptions& options) {
  PreviewServer server(options);
  server.Start();
  // Ctrl-C and SIGTERM end the wait below; the server stops between requests.
  g_interrupted = false;
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
  const std::string url = server.Url();
  if (options.host != "127.0.0.1" && options.host != "localhost") {
    std::cerr << "warning: serving on " << options.host
              << ": anyone who can reach this address can change and overwrite "
              << options.scene.string() << "\n";
  }
  std::cout << "previewing " << options.scene.string() << " at " << url << "  (Ctrl-C stops)"
            << std::endl;
  if (options.open) {
    if (const auto opener = FindProgram("xdg-open")) {
      const std::string program = opener->string();
      char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(url.c_str()), nullptr};
      pid_t pid = 0;
      if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0) {
        std::cerr << "warning: could not start a browser; open " << url << "\n";
      } else {
        std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
      }
    } else {
      std::cerr << "warning: no browser opener (xdg-open) found; open " << url << "\n";
    }
  }
  while (!g_interrupted.load()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  server.Stop();
  std::cout << "stopped; " << options.scene.string() << " is as last saved" << std::endl;
  return 0;
}

}  // namespace vantrel::cli
