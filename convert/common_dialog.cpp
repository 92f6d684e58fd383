// SPDX-License-Identifier: MIT
#include "common_dialog.h"

#include <QFileInfo>

namespace convert {

namespace {

struct Entry {
    QString description;
    QStringList patterns;
};

QList<Entry> parseFilter(const std::string &filter) {
    QList<Entry> entries;
    const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        Entry entry;
        entry.description = parts[i];
        for (const QString &p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            entry.patterns << p.trimmed();
        }
        entries << entry;
    }
    return entries;
}

// "*.png" -> "png"; empty for a pattern without a plain extension.
QString extensionOf(const QStringList &patterns) {
    if (patterns.isEmpty()) return {};
    const QString &p = patterns.front();
    if (!p.startsWith(QLatin1String("*.")) || p.size() < 3) return {};
    const QString ext = p.mid(2);
    for (QChar c : ext) {
        if (c == QLatin1Char('*') || c == QLatin1Char('?') || c == QLatin1Char('[')) return {};
    }
    return ext;
}

// The entry a filter text names: the dialog reports either the whole Qt
// filter or, with its details hidden, the description alone.
qsizetype entryIndex(const QStringList &filters, const QList<Entry> &entries,
                     const QString &reported) {
    const qsizetype whole = filters.indexOf(reported);
    if (whole >= 0) return whole;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (entries[i].description.simplified() == reported.simplified()) return i;
    }
    return -1;
}

} // namespace

CommonDialog1::CommonDialog1(QWidget *parent)
    : parent_(parent), runner_([](QFileDialog &dialog) { return dialog.exec(); }) {}

QStringList CommonDialog1::qtNameFilters(const std::string &filter) {
    QStringList out;
    for (const Entry &e : parseFilter(filter)) {
        out << e.description + QLatin1String(" (") + e.patterns.join(QLatin1Char(' ')) +
                   QLatin1Char(')');
    }
    return out;
}

bool CommonDialog1::ShowOpen() {
    return show(QFileDialog::AcceptOpen);
}

bool CommonDialog1::ShowSave() {
    return show(QFileDialog::AcceptSave);
}

bool CommonDialog1::show(QFileDialog::AcceptMode mode) {
    const QList<Entry> entries = parseFilter(Filter);
    const QStringList filters = qtNameFilters(Filter);

    QFileDialog dialog(parent_);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, (Flags & kOverwritePrompt) == 0);
    dialog.setAcceptMode(mode);
    // A name that does not exist is accepted by the open dialog as well.
    dialog.setFileMode(QFileDialog::AnyFile);
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        const int start = (FilterIndex >= 1 && FilterIndex <= filters.size()) ? FilterIndex - 1 : 0;
        dialog.selectNameFilter(filters[start]);
    }
    dialog.setDefaultSuffix(QString::fromStdString(DefaultExt));

    // The appended extension follows the entry the user picks.
    const QString defaultExt = QString::fromStdString(DefaultExt);
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog, &filters, &entries, defaultExt](const QString &chosen) {
                         const qsizetype i = entryIndex(filters, entries, chosen);
                         const QString ext = i >= 0 ? extensionOf(entries[i].patterns) : QString();
                         dialog.setDefaultSuffix(ext.isEmpty() ? defaultExt : ext);
                     });

    if (!FileName.empty()) {
        const QFileInfo name(QString::fromStdString(FileName));
        if (name.isAbsolute()) dialog.setDirectory(name.absolutePath());
        dialog.selectFile(name.isAbsolute() ? name.fileName() : QString::fromStdString(FileName));
    }

    const bool accepted = runner_(dialog) == QDialog::Accepted;

    const qsizetype chosen = entryIndex(filters, entries, dialog.selectedNameFilter());
    if (chosen >= 0) FilterIndex = static_cast<int16_t>(chosen + 1);

    if (!accepted) {
        if (mode == QFileDialog::AcceptSave) FileName.clear();
        return false;
    }
    const QStringList files = dialog.selectedFiles();
    FileName = files.isEmpty() ? std::string() : files.front().toStdString();
    return true;
}

} // namespace convert
