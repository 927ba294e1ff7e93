// The video recorder. The present hook copies each device screen (150 KB) into a bounded queue
// that a worker thread drains into the encoder, so encoding never holds up the frame pump; a
// headless run, which has no pace to keep, encodes in the hook itself. Frame i is shown from
// i x 25 ms, the device's frame period, whatever rate the pump actually ran at.
#include "app/video_record.h"

#include <fcntl.h>
#include <signal.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/navigation.h"
#include "media/webp_video.h"
#include "render/framebuffer.h"
#include "runtime/host.h"

namespace {

constexpr int FRAME_MS = 25;
constexpr size_t QUEUE_FRAMES = 8;  // 1.2 MB of waiting screens, a fifth of a second
constexpr uint32_t LEAVE_GRACE_FRAMES = 400;  // after the frame limit, 10 s to leave by itself
constexpr size_t SCREEN_PIXELS = size_t(SCREEN_WIDTH) * SCREEN_MAX_HEIGHT;

struct Frame {
    std::vector<uint16_t> pixels;
    uint32_t index;
};

struct Recorder {
    VideoSettings settings;
    int kind = 0;
    int scale = 0;                // fixed at the first frame
    uint32_t presented = 0;       // frames presented since the start
    uint32_t end_index = 0;       // frames the video covers
    uint32_t dropped = 0;         // frames the full queue could not take
    bool finished = false, limit_reached = false;
    bool lost = false;            // the file could not be written: the run ends with status 1
    // Encoders: one of the two.
    WebpVideo* webp = nullptr;
    pid_t ffmpeg = -1;
    int pipe_fd = -1;
    std::string temp_path;
    std::vector<uint16_t> last;  // the MP4 writer repeats it for frames the queue dropped
    uint32_t written = 0;        // MP4 frames written so far
    bool failed = false;
    // The worker and its queue.
    std::thread worker;
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<Frame> queue;
    bool stopping = false;
};

Recorder* recorder = nullptr;

bool write_all(int fd, const void* data, size_t size) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n, size -= static_cast<size_t>(n);
    }
    return true;
}

// ffmpeg reads raw RGB565 screens on its standard input, enlarges them with square pixels and
// writes H.264 (yuv420p, which every player takes) to the temporary name. The veryfast preset
// keeps up with a live session: at 720 x 960 libx264's default (medium) took 39 ms of CPU a
// frame against the 25 ms frame period, veryfast 17 ms. It gets a process
// group of its own, so that Ctrl+C in the terminal reaches the viewer only and the viewer
// decides when the stream ends.
bool start_ffmpeg(Recorder& r) {
    int fds[2];
    if (::pipe(fds) != 0) return false;
    const std::string size = std::to_string(SCREEN_WIDTH) + "x" + std::to_string(SCREEN_MAX_HEIGHT);
    const std::string scale = "scale=" + std::to_string(SCREEN_WIDTH * r.scale) + ":" +
                              std::to_string(SCREEN_MAX_HEIGHT * r.scale) + ":flags=neighbor";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        ::dup2(fds[0], 0);
        ::close(fds[0]);
        ::close(fds[1]);
        ::execlp("ffmpeg", "ffmpeg", "-hide_banner", "-loglevel", "error", "-nostats", "-f", "rawvideo",
                 "-pixel_format", "rgb565le", "-video_size", size.c_str(), "-framerate", "40", "-i", "-", "-vf",
                 scale.c_str(), "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p", "-f", "mp4", "-y",
                 r.temp_path.c_str(),
                 static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[0]);
    if (pid < 0) {
        ::close(fds[1]);
        return false;
    }
    r.ffmpeg = pid;
    r.pipe_fd = fds[1];
    return true;
}

// Gives one frame to the encoder (the worker, or the hook when headless).
void encode(Recorder& r, const uint16_t* pixels, uint32_t index) {
    if (r.failed) return;
    if (r.webp) {
        r.failed = !webp_video_add(r.webp, pixels, index);
        return;
    }
    // A constant-rate stream: a dropped frame is the one before it shown again.
    for (; r.written < index && !r.last.empty(); ++r.written)
        r.failed = r.failed || !write_all(r.pipe_fd, r.last.data(), SCREEN_PIXELS * 2);
    r.failed = r.failed || !write_all(r.pipe_fd, pixels, SCREEN_PIXELS * 2);
    r.last.assign(pixels, pixels + SCREEN_PIXELS);
    r.written = index + 1;
}

void work(Recorder* r) {
    for (;;) {
        Frame frame;
        {
            std::unique_lock<std::mutex> lock(r->mutex);
            r->ready.wait(lock, [r] { return r->stopping || !r->queue.empty(); });
            if (r->queue.empty()) return;  // stopping, and everything is encoded
            frame = std::move(r->queue.front());
            r->queue.pop_front();
        }
        encode(*r, frame.pixels.data(), frame.index);
    }
}

// Opens the encoder at the first frame, when the window's scale is known.
bool open_encoder(Recorder& r) {
    r.scale = r.settings.scale ? r.settings.scale : host_window_scale();
    if (r.kind == 1) {
        r.webp = webp_video_open(SCREEN_WIDTH, SCREEN_MAX_HEIGHT, r.scale, FRAME_MS);
        if (!r.webp) std::fprintf(stderr, "evergreen: %s: the video encoder could not start\n", r.settings.path);
        return r.webp != nullptr;
    }
    r.temp_path = std::string(r.settings.path) + "." + std::to_string(::getpid()) + ".part";
    if (start_ffmpeg(r)) return true;
    std::fprintf(stderr, "evergreen: %s: ffmpeg could not start\n", r.settings.path);
    return false;
}

void on_present(const uint16_t* screen) {
    Recorder& r = *recorder;
    const uint32_t index = r.presented++;
    if (r.settings.frames && index >= r.settings.frames) {
        // The video is complete. While viewing, the viewer leaves at its next stopping point as
        // with Right Shift (the progress is saved); elsewhere, or when a screen after it waits
        // for a touch, the window is closed.
        if (!r.limit_reached) {
            r.limit_reached = true;
            video_record_finish();
            if (frame_hook == viewer_frame_hook) leave_key_noted = 1;
            else host_close_window();
        }
        if (index == r.settings.frames + LEAVE_GRACE_FRAMES) host_close_window();
        return;
    }
    if (r.kind == 0 || r.finished) return;
    if (index == 0 && !open_encoder(r)) {
        r.finished = r.lost = true;  // nothing to finish; the session goes on without a video
        return;
    }
    r.end_index = index + 1;
    if (!r.settings.threaded) {
        encode(r, screen, index);
        return;
    }
    bool full = false;
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        full = r.queue.size() >= QUEUE_FRAMES;
        if (!full) r.queue.push_back(Frame{std::vector<uint16_t>(screen, screen + SCREEN_PIXELS), index});
    }
    if (!full) {
        r.ready.notify_one();
    } else if (r.dropped++ == 0) {
        std::fprintf(stderr, "evergreen: the video encoder falls behind; some frames are shown longer\n");
    }
}

// A video that could not be written makes the run fail. This handler was registered before the
// runtime's (SDL_Quit), so it runs after it and ending here with _Exit skips nothing of the
// runtime's; stdio is flushed first as exit would.
void finish_at_exit() {
    video_record_finish();
    if (recorder && recorder->lost) {
        std::fflush(nullptr);
        std::_Exit(1);
    }
}

}  // namespace

int video_kind(const char* path) {
    const size_t n = std::strlen(path);
    if (n > 5 && !strcasecmp(path + n - 5, ".webp")) return 1;
    if (n > 4 && !strcasecmp(path + n - 4, ".mp4")) return 2;
    return 0;
}

bool video_path_writable(const char* path) {
    // The temporary name the file will be written under, made and removed at once: a video
    // whose folder cannot take it would otherwise be lost only at the end of the run.
    const std::string temp = std::string(path) + "." + std::to_string(::getpid()) + ".part";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    ::close(fd);
    ::unlink(temp.c_str());
    return true;
}

bool program_on_path(const char* program) {
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "";
    size_t start = 0;
    for (;;) {
        const size_t end = folders.find(':', start);
        std::string folder = folders.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const std::string file = (folder.empty() ? std::string(".") : folder) + "/" + program;
        struct stat st;
        if (::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(file.c_str(), X_OK) == 0) return true;
        if (end == std::string::npos) return false;
        start = end + 1;
    }
}

void video_record_start(const VideoSettings& settings) {
    recorder = new Recorder;
    recorder->settings = settings;
    recorder->kind = settings.path ? video_kind(settings.path) : 0;
    if (recorder->kind == 2) ::signal(SIGPIPE, SIG_IGN);  // a failed ffmpeg is reported, not fatal
    if (recorder->kind && settings.threaded) {
        // The worker takes no signals: SDL's SIGTERM handler turns them into a close event for
        // the pump, which ends the run through the exit handler below.
        sigset_t block, old;
        sigemptyset(&block);
        sigaddset(&block, SIGTERM);
        sigaddset(&block, SIGINT);
        pthread_sigmask(SIG_BLOCK, &block, &old);
        recorder->worker = std::thread(work, recorder);
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
    }
    present_hook = on_present;
    std::atexit(finish_at_exit);
}

bool video_record_finish() {
    Recorder* r = recorder;
    if (!r || r->finished) return true;
    r->finished = true;
    if (r->worker.joinable()) {
        {
            std::lock_guard<std::mutex> lock(r->mutex);
            r->stopping = true;
        }
        r->ready.notify_one();
        r->worker.join();
    }
    if (r->kind == 0 || r->end_index == 0) return true;
    const char* path = r->settings.path;
    char error[512] = "";
    bool ok;
    if (r->webp) {
        ok = webp_video_finish(r->webp, r->end_index, path, error, sizeof error);
        r->webp = nullptr;
    } else {
        ::close(r->pipe_fd);
        int status = 0;
        ok = ::waitpid(r->ffmpeg, &status, 0) == r->ffmpeg && WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
             !r->failed;
        if (!ok && WIFEXITED(status) && WEXITSTATUS(status) == 127)
            std::snprintf(error, sizeof error, "ffmpeg could not be run; %s not written", path);
        else if (!ok)
            std::snprintf(error, sizeof error, "ffmpeg failed; %s not written", path);
        if (ok && ::rename(r->temp_path.c_str(), path) != 0) {
            std::snprintf(error, sizeof error, "cannot write %s: %s", path, std::strerror(errno));
            ok = false;
        }
        if (!ok) ::unlink(r->temp_path.c_str());
    }
    if (ok && r->dropped)
        std::fprintf(stderr, "evergreen: %s: %u frames, %.2f s (%u shown longer)\n", path, r->end_index,
                     r->end_index * FRAME_MS / 1000.0, r->dropped);
    else if (ok)
        std::fprintf(stderr, "evergreen: %s: %u frames, %.2f s\n", path, r->end_index, r->end_index * FRAME_MS / 1000.0);
    else
        std::fprintf(stderr, "evergreen: %s\n", error);
    r->lost = !ok;
    return ok;
}
