#pragma once

class QUrl;

// Opens a web page in the player's browser. False when no browser could be
// started (no xdg-open and no $BROWSER, say), so that the window can tell the
// player the address instead of doing nothing.
class Browser
{
public:
    virtual ~Browser() = default;
    virtual bool open(const QUrl &url) = 0;
};

class DesktopBrowser final : public Browser
{
public:
    bool open(const QUrl &url) override;
};
