#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

/// A file with the given content in a scratch folder of its own; both go with the object.
class ScratchFile {
public:
    ScratchFile(const QString &name, const QByteArray &content) : m_path(m_dir.filePath(name)) {
        QFile file(m_path);
        m_written = m_dir.isValid() && file.open(QIODevice::WriteOnly) &&
                    file.write(content) == content.size();
    }

    bool written() const { return m_written; }
    QString path() const { return m_path; }

private:
    QTemporaryDir m_dir;
    QString m_path;
    bool m_written = false;
};
