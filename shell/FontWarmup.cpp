#include "shell/FontWarmup.h"

#include <fontconfig/fontconfig.h>

FontWarmup::FontWarmup()
    : m_thread([] {
          // Loads the configuration once for the process; Qt's own call
          // later returns at once. Thread-safe in fontconfig.
          FcInit();
      })
{
}

FontWarmup::~FontWarmup()
{
    wait();
}

void FontWarmup::wait()
{
    if (m_thread.joinable())
        m_thread.join();
}
