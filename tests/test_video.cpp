// Videos of a journey through the real program: decoded with libwebp's demuxer (size, frame
// times), the same seed giving the same file, SIGTERM leaving a playable file, the MP4 pipe (a
// stand-in ffmpeg, and the real one where there is one) and refused command lines.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <webp/demux.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "media/webp_video.h"
#include "tests/support/temp_dir.h"

namespace {

const std::string EXE = EVG_BINARY_DIR "/evergreen";

struct Decoded {
    int width = 0, height = 0;
    std::vector<int> ends;  // each frame's end time in ms
};

// Every frame decoded; empty `ends` when the file does not decode to the end.
Decoded decode(const std::string& path) {
    const std::string bytes = read_file(path);
    WebPData data = {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()};
    Decoded out;
    WebPAnimDecoder* decoder = WebPAnimDecoderNew(&data, nullptr);
    WebPAnimInfo info;
    if (!decoder || !WebPAnimDecoderGetInfo(decoder, &info)) return out;
    out.width = int(info.canvas_width), out.height = int(info.canvas_height);
    uint8_t* pixels;
    int end;
    while (WebPAnimDecoderHasMoreFrames(decoder) && WebPAnimDecoderGetNext(decoder, &pixels, &end)) out.ends.push_back(end);
    if (out.ends.size() != info.frame_count) out.ends.clear();
    WebPAnimDecoderDelete(decoder);
    return out;
}

// The frames of a `frames`-frame video last 25 ms or a multiple (a frame repeated is one frame).
void expect_frame_times(const Decoded& video, int frames) {
    ASSERT_FALSE(video.ends.empty());
    EXPECT_EQ(video.ends.back(), frames * 25);
    for (size_t i = 0; i < video.ends.size(); ++i)
        EXPECT_EQ((video.ends[i] - (i ? video.ends[i - 1] : 0)) % 25, 0) << "frame " << i;
}

int run(const TempDir& dir, const std::string& args, const std::string& env = "SDL_VIDEODRIVER=dummy") {
    const int status = std::system(("cd " + dir.path + " && timeout 60 env " + env + " " + EXE + " " + args +
                                    " > out.txt 2> err.txt").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct VideoTest : testing::Test {
    TempDir dir;
    void SetUp() override {
        ASSERT_EQ(std::system((EVG_BINARY_DIR "/evgpack demo --count 6 -o " + dir.file("Demo.evg") + " > /dev/null").c_str()), 0);
    }
};

TEST_F(VideoTest, AutoJourneyHasEveryFrameAtItsScaleAndTheSameSeedGivesTheSameFile) {
    const std::string journey = "--headless --fps 1000 --auto --seed 11 --frames 60 --video ";
    for (int scale : {1, 2}) {
        const std::string name = "v" + std::to_string(scale) + ".webp";
        ASSERT_EQ(run(dir, journey + name + (scale > 1 ? " --video-scale 2" : "") + " Demo.evg"), 0) << read_file(dir.file("err.txt"));
        const Decoded video = decode(dir.file(name));
        EXPECT_EQ(video.width, 240 * scale);
        EXPECT_EQ(video.height, 320 * scale);
        expect_frame_times(video, 60);
        EXPECT_GT(video.ends.size(), 20u);  // the journey moves
        // The viewer left as with the exit button: the progress was saved.
        EXPECT_TRUE(file_exists(dir.file("Evergreen.sav")));
        std::remove(dir.file("Evergreen.sav").c_str());  // the next run starts from the same progress
    }
    ASSERT_EQ(run(dir, journey + "again.webp Demo.evg"), 0);
    EXPECT_EQ(read_file(dir.file("again.webp")), read_file(dir.file("v1.webp")));
    EXPECT_EQ(run(dir, "--headless --fps 1000 --picture 6 --frames 10 Demo.evg"), 2);  // 6 pictures: 0 to 5
    // --picture 0 skips the start choice: picture 0 is viewed at once (bit 0 of the record).
    std::remove(dir.file("Evergreen.sav").c_str());
    ASSERT_EQ(run(dir, "--headless --fps 1000 --picture 0 --frames 10 Demo.evg"), 0);
    EXPECT_EQ(read_file(dir.file("Evergreen.sav")).substr(512, 1), "\x01");

    // Refused command lines, before anything runs.
    for (const char* args : {"--video v.gif", "--video-scale 9", "--frames 0", "--seed -1", "--picture x"})
        EXPECT_EQ(run(dir, std::string("--headless ") + args), 2) << args;
    EXPECT_EQ(run(dir, "--headless --video no-such-folder/v.webp"), 1);
    EXPECT_EQ(run(dir, "--headless --video v.mp4", "PATH=/nonexistent"), 1);
    EXPECT_NE(read_file(dir.file("err.txt")).find("ffmpeg"), std::string::npos);
}

TEST_F(VideoTest, SigtermDuringAWindowedRunLeavesAPlayableFile) {
    // A window (SDL's dummy driver) encodes on the worker thread at the real 40 frames a second;
    // the shot taken at frame 10 tells that the video has begun.
    ASSERT_TRUE(write_file(dir.file("shot.txt"), "10 shot shot.png\n"));
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.path.c_str()) != 0) _exit(127);
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        execl(EXE.c_str(), EXE.c_str(), "--auto", "--replay", "shot.txt", "--video", "cut.webp", "Demo.evg",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int i = 0; i < 600 && !file_exists(dir.file("shot.png")); ++i) usleep(50000);
    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const Decoded video = decode(dir.file("cut.webp"));
    ASSERT_FALSE(video.ends.empty());
    expect_frame_times(video, video.ends.back() / 25);
    EXPECT_FALSE(file_exists(dir.file("cut.webp." + std::to_string(pid) + ".part")));

    // The MP4 pipe: a stand-in ffmpeg keeps the raw screens it is sent, every frame in order.
    ASSERT_TRUE(write_file(dir.file("ffmpeg"), "#!/bin/sh\nfor a; do out=$a; done\ncat > \"$out\"\n"));
    ASSERT_EQ(chmod(dir.file("ffmpeg").c_str(), 0755), 0);
    const std::string stand_in = "PATH=" + dir.path + ":$PATH SDL_VIDEODRIVER=dummy";
    ASSERT_EQ(run(dir, "--fps 1000 --auto --frames 30 --video v.mp4 Demo.evg", stand_in), 0);
    EXPECT_EQ(file_length(dir.file("v.mp4")), 30 * 240 * 320 * 2);
    // An ffmpeg that fails leaves no file, and the run fails with it.
    ASSERT_TRUE(write_file(dir.file("ffmpeg"), "#!/bin/sh\nexit 1\n"));
    EXPECT_EQ(run(dir, "--headless --fps 1000 --auto --frames 5 --video w.mp4 Demo.evg", stand_in), 1);
    EXPECT_NE(read_file(dir.file("err.txt")).find("ffmpeg failed; w.mp4 not written"), std::string::npos);
    EXPECT_FALSE(file_exists(dir.file("w.mp4")));
}

// The real ffmpeg, where there is one: H.264 at 40 frames a second, every frame decodable.
TEST_F(VideoTest, Mp4ThroughFfmpeg) {
    if (std::system("command -v ffmpeg > /dev/null && command -v ffprobe > /dev/null") != 0)
        GTEST_SKIP() << "no ffmpeg and ffprobe on PATH";
    ASSERT_EQ(run(dir, "--headless --fps 1000 --auto --frames 30 --video-scale 3 --video v.mp4 Demo.evg"), 0);
    ASSERT_EQ(std::system(("ffprobe -v error -count_frames -show_entries stream=codec_name,width,height,pix_fmt,"
                           "r_frame_rate,nb_read_frames -of csv=p=0 " + dir.file("v.mp4") + " > " + dir.file("probe.txt")).c_str()), 0);
    EXPECT_EQ(read_file(dir.file("probe.txt")), "h264,720,960,yuv420p,40/1,30\n");
}

}  // namespace

// The encoder takes scales 1 to 8 and sides up to 16383 pixels once enlarged; it refuses the rest.
TEST(WebpVideoOpen, SizesInRangeOnly) {
    const struct { int w, h, scale, ms; bool ok; } cases[] = {
        {240, 320, 1, 1, true},   {240, 320, 8, 40, true},   {240, 320, 0, 40, false}, {240, 320, 9, 40, false},
        {0, 320, 1, 40, false},   {240, 0, 1, 40, false},    {240, 320, 1, 0, false},  {16383, 1, 1, 40, true},
        {1, 16383, 1, 40, true},  {2047, 2047, 8, 40, true}, {2048, 1, 8, 40, false},  {1, 2048, 8, 40, false}};
    for (const auto& c : cases) {
        WebpVideo* video = webp_video_open(c.w, c.h, c.scale, c.ms);
        EXPECT_EQ(video != nullptr, c.ok) << c.w << " x " << c.h << " at " << c.scale << ", " << c.ms << " ms";
        char error[160];
        if (video) webp_video_finish(video, 0, "/nonexistent/v.webp", error, sizeof error);  // frees it
    }
}
