// Safe removal of the memory stick the desktop's way: udisks2 on the system bus unmounts the
// stick and powers its drive off, with no root needed.
#pragma once

#include <QDBusConnection>
#include <QString>

struct TEjectResult {
  bool Ejected = false; // unmounted (and powered off where the drive can be)
  QString Message;      // what to tell the person, either way
};

// Writes everything out, then asks udisks2 on ABus to unmount the file system mounted at
// AMountPoint and to power its drive off. Blocks until udisks2 answers: run it off the
// window's thread.
TEjectResult EjectStick(const QString &AMountPoint,
                        const QDBusConnection &ABus = QDBusConnection::systemBus());
