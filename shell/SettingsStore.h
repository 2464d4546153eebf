#pragma once

#include <QString>

// The per-user settings store: text values addressed by application, section
// and key. Reads of missing keys give an empty text. A write reports whether
// the value reached the disk, so that callers never claim to have kept
// something that was lost.
class SettingsStore
{
public:
    virtual ~SettingsStore() = default;

    virtual QString read(const QString &application, const QString &section,
                         const QString &key) const = 0;
    virtual bool write(const QString &application, const QString &section,
                       const QString &key, const QString &value) = 0;
};

// QSettings in INI format. By default the file of application A is the
// per-user $XDG_CONFIG_HOME/A/A.ini; tests give a folder of their own instead.
class IniSettingsStore final : public SettingsStore
{
public:
    IniSettingsStore();
    explicit IniSettingsStore(const QString &rootFolder);

    QString read(const QString &application, const QString &section,
                 const QString &key) const override;
    bool write(const QString &application, const QString &section,
               const QString &key, const QString &value) override;

    // The INI file that holds the values of one application.
    QString fileName(const QString &application) const;

private:
    QString m_rootFolder; // empty: the per-user location
};
