#pragma once

class QUrl;

// Opens a web page in the player's browser. Failures are not reported: a
// missing browser is not the game's business.
class Browser
{
public:
    virtual ~Browser() = default;
    virtual void open(const QUrl &url) = 0;
};

class DesktopBrowser final : public Browser
{
public:
    void open(const QUrl &url) override;
};
