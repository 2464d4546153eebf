#pragma once

#include <thread>

// Reading the desktop's font configuration is the largest single cost of the
// first frame. It does not depend on the window system, so it runs on a
// second thread while QApplication connects to the display; the first text
// the window paints then finds it ready.
class FontWarmup
{
public:
    FontWarmup();
    ~FontWarmup();
    FontWarmup(const FontWarmup &) = delete;
    FontWarmup &operator=(const FontWarmup &) = delete;

    // Waits until the configuration is loaded.
    void wait();

private:
    std::thread m_thread;
};
