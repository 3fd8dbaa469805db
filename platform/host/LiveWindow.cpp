#include "platform/host/LiveWindow.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/host/PngFile.h"

namespace quarrin::platform {

namespace {

// SDL falls back to drivers that draw into memory ("offscreen", "dummy") when it cannot
// reach the display; a window there would be invisible, which is no window at all.
bool ShowsOnADesktop(const char* driver) {
    std::string name = driver != nullptr ? driver : "";
    return name == "x11" || name == "wayland";
}

bool EnvironmentNames(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// Writes through a temporary file and a rename, so a reader never sees half a picture.
void WriteSnapshot(const std::string& path, int width, int height,
                   const std::vector<std::uint32_t>& pixels) {
    std::string temporary = path + ".tmp";
    if (!WritePngFile(temporary, width, height, pixels))
        return;
    std::error_code ignored;
    std::filesystem::rename(temporary, path, ignored);
}

}  // namespace

bool HaveDisplay() {
    return EnvironmentNames("DISPLAY") || EnvironmentNames("WAYLAND_DISPLAY");
}

// The video state of the window thread: SDL, the window, its renderer and one texture the
// size of the screen. Created and destroyed on the window thread only.
class LiveWindow::Session {
public:
    Session(int width, int height) : m_width(width), m_height(height) {
        // The loader keeps the default reaction to Ctrl-C and SIGTERM.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        if (SDL_Init(SDL_INIT_VIDEO) != 0)
            return;
        m_initialised = true;
        if (!ShowsOnADesktop(SDL_GetCurrentVideoDriver()))
            return;
        std::string title = "Quarrin — " + std::to_string(width) + "x" + std::to_string(height);
        m_window = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                    width, height, SDL_WINDOW_SHOWN);
        if (m_window == nullptr)
            return;
        // Software rendering: one small picture a few times a second needs no GPU driver,
        // works on any X server, and reads back exactly what was drawn.
        m_renderer = SDL_CreateRenderer(m_window, -1, SDL_RENDERER_SOFTWARE);
        if (m_renderer == nullptr)
            return;
        // RGB888 ignores the top byte, which the frame leaves at 0.
        m_texture = SDL_CreateTexture(m_renderer, SDL_PIXELFORMAT_RGB888,
                                      SDL_TEXTUREACCESS_STREAMING, width, height);
    }

    ~Session() {
        if (m_texture != nullptr)
            SDL_DestroyTexture(m_texture);
        if (m_renderer != nullptr)
            SDL_DestroyRenderer(m_renderer);
        if (m_window != nullptr)
            SDL_DestroyWindow(m_window);
        if (m_initialised)
            SDL_Quit();
    }

    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool Ready() const { return m_texture != nullptr; }

    // Draws the frame; when `readBack` is given, fills it with what the window now shows.
    void Show(const std::vector<std::uint32_t>& frame, std::vector<std::uint32_t>* readBack) {
        SDL_UpdateTexture(m_texture, nullptr, frame.data(), m_width * 4);
        SDL_RenderClear(m_renderer);
        SDL_RenderCopy(m_renderer, m_texture, nullptr, nullptr);
        // The picture must be read before the present: afterwards the back buffer is undefined.
        if (readBack != nullptr && !ReadBack(*readBack))
            readBack->clear();
        SDL_RenderPresent(m_renderer);
    }

private:
    bool ReadBack(std::vector<std::uint32_t>& pixels) {
        pixels.assign(static_cast<std::size_t>(m_width) * static_cast<std::size_t>(m_height), 0);
        if (SDL_RenderReadPixels(m_renderer, nullptr, SDL_PIXELFORMAT_RGB888, pixels.data(),
                                 m_width * 4) != 0) {
            return false;
        }
        for (std::uint32_t& pixel : pixels)
            pixel &= 0x00FFFFFF;
        return true;
    }

    int m_width;
    int m_height;
    bool m_initialised = false;
    SDL_Window* m_window = nullptr;
    SDL_Renderer* m_renderer = nullptr;
    SDL_Texture* m_texture = nullptr;
};

namespace {

// Wakes the window thread out of SDL_WaitEvent; SDL_PushEvent may be called from any thread.
void WakeWindowThread() {
    SDL_Event wake{};
    wake.type = SDL_USEREVENT;
    SDL_PushEvent(&wake);
}

bool IsCloseRequest(const SDL_Event& event) {
    return event.type == SDL_QUIT ||
           (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE);
}

bool IsExposure(const SDL_Event& event) {
    return event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_EXPOSED;
}

}  // namespace

LiveWindow::LiveWindow(int width, int height, std::string snapshotFile)
    : m_width(width), m_height(height), m_snapshotFile(std::move(snapshotFile)) {}

LiveWindow::~LiveWindow() {
    {
        std::lock_guard<std::mutex> guard(m_mailbox.lock);
        m_mailbox.stopping = true;
        if (m_mailbox.windowReady)
            WakeWindowThread();
    }
    if (m_thread.joinable())
        m_thread.join();
}

void LiveWindow::ShowFrame(const std::vector<std::uint32_t>& pixels) {
    // The texture has the window's size; a frame of another size would be read out of bounds.
    if (pixels.size() != static_cast<std::size_t>(m_width) * static_cast<std::size_t>(m_height))
        return;
    if (!m_started) {
        m_started = true;
        if (!HaveDisplay()) {
            ReportNoDisplay();
            return;
        }
        m_thread = std::thread([this] { RunWindowThread(); });
    }
    std::lock_guard<std::mutex> guard(m_mailbox.lock);
    if (m_mailbox.closed)
        return;
    m_mailbox.frame = pixels;
    m_mailbox.hasFrame = true;
    if (m_mailbox.windowReady)
        WakeWindowThread();
}

void LiveWindow::ReportNoDisplay() {
    {
        std::lock_guard<std::mutex> guard(m_mailbox.lock);
        m_mailbox.closed = true;
    }
    std::fputs("quarrin: no display for --window; running without a window\n", stderr);
}

void LiveWindow::RunWindowThread() {
    Session session(m_width, m_height);
    if (!session.Ready()) {
        ReportNoDisplay();
        return;
    }
    {
        std::lock_guard<std::mutex> guard(m_mailbox.lock);
        m_mailbox.windowReady = true;
    }
    std::vector<std::uint32_t> shown;
    std::vector<std::uint32_t> readBack;
    std::vector<std::uint32_t>* snapshot = m_snapshotFile.empty() ? nullptr : &readBack;
    for (;;) {
        bool fresh = false;
        bool stopping = false;
        {
            std::lock_guard<std::mutex> guard(m_mailbox.lock);
            stopping = m_mailbox.stopping;
            if (m_mailbox.hasFrame) {
                shown.swap(m_mailbox.frame);
                m_mailbox.hasFrame = false;
                fresh = true;
            }
        }
        if (fresh) {
            session.Show(shown, snapshot);
            if (snapshot != nullptr && !readBack.empty())
                WriteSnapshot(m_snapshotFile, m_width, m_height, readBack);
        }
        if (stopping)
            break;  // after the last frame, so the window and the snapshot end on it
        SDL_Event event;
        if (SDL_WaitEvent(&event) == 0 || IsCloseRequest(event))
            break;
        if (IsExposure(event) && !shown.empty())
            session.Show(shown, nullptr);
    }
    // No more wake-ups once SDL shuts down with the session.
    std::lock_guard<std::mutex> guard(m_mailbox.lock);
    m_mailbox.windowReady = false;
    m_mailbox.closed = true;
}

}  // namespace quarrin::platform
