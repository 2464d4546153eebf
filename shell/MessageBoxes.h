#pragma once

class QString;
class QWidget;

// The fixed message boxes of the game. Every box carries the application
// title as its caption and waits until the player closes it.
class MessageBoxes
{
public:
    enum class Icon { Information, Error };

    virtual ~MessageBoxes() = default;

    // A box with one OK button.
    virtual void inform(QWidget *parent, Icon icon, const QString &text) = 0;
    // A question box with Yes and No, No being the default; true on Yes.
    // Closing the box any other way answers No.
    virtual bool askYesNo(QWidget *parent, const QString &text) = 0;
};

class QtMessageBoxes final : public MessageBoxes
{
public:
    void inform(QWidget *parent, Icon icon, const QString &text) override;
    bool askYesNo(QWidget *parent, const QString &text) override;
};
