#pragma once

// The two sounds of the game: the plain beep of a wrong answer or a rejected
// key, and the exclamation sound of a finished game without a record.
class Sound
{
public:
    virtual ~Sound() = default;

    virtual void beep() = 0;
    virtual void exclamation() = 0;
};

class SystemSound final : public Sound
{
public:
    void beep() override;
    void exclamation() override;
};
