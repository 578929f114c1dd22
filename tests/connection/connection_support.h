// Support of the connection tests: a home directory of their own for the settings, and a
// simulated sensor reached through a symbolic link, as a USB adapter is reached by its name.
#pragma once

#include <QByteArray>
#include <QTemporaryDir>

#include <string>

#include "fixtures.h"

// Points HOME and XDG_CONFIG_HOME at a fresh directory for as long as it lives.
class TemporaryHome {
  public:
    TemporaryHome() {
        oldHome_ = qgetenv("HOME");
        oldConfig_ = qgetenv("XDG_CONFIG_HOME");
        qputenv("HOME", dir_.path().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", (dir_.path() + "/.config").toLocal8Bit());
    }
    ~TemporaryHome() {
        qputenv("HOME", oldHome_);
        qputenv("XDG_CONFIG_HOME", oldConfig_);
    }
    std::string path() const { return dir_.path().toStdString(); }

  private:
    QTemporaryDir dir_;
    QByteArray oldHome_, oldConfig_;
};

// The sensor on port 1 behind the link <temp>/ttyKVOR: the link goes when the simulated device is
// unplugged and comes back (to a new terminal) when it is plugged in again.
class LinkedSensorTest : public SensorTest {
  protected:
    LinkedSensorTest() { options.linkPath = links_.path().toStdString() + "/ttyKVOR"; }
    void SetUp() override;
    void TearDown() override;
    std::string linkDir() const { return links_.path().toStdString(); }

    TemporaryHome home;

  private:
    QTemporaryDir links_;
};
