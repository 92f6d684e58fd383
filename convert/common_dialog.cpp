// SPDX-License-Identifier: MIT
#include "common_dialog.h"

#include <QDateTime>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QLayout>
#include <QListView>
#include <QMimeDatabase>
#include <QSplitter>
#include <QTreeView>

#include <algorithm>

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

// The file list's size, type and date columns in the program's language.
// Qt's model writes sizes and dates by the system's locale and calls a
// folder "Folder"; these come out by the default locale (Japanese, see
// installJapanese) whatever the system's locale is.
class JapaneseColumns final : public QIdentityProxyModel {
  public:
    using QIdentityProxyModel::QIdentityProxyModel;

    static QString folder() { return QString::fromUtf8("フォルダー"); }

    QVariant data(const QModelIndex &index, int role) const override {
        const auto *files = qobject_cast<const QFileSystemModel *>(sourceModel());
        if (role != Qt::DisplayRole || !files || index.column() == 0)
            return QIdentityProxyModel::data(index, role);
        const QModelIndex source = mapToSource(index);
        const QLocale locale;
        switch (index.column()) {
        case 1:
            return files->isDir(source) ? QString() : locale.formattedDataSize(files->size(source));
        case 2:
            return files->isDir(source) ? folder() : files->type(source);
        case 3:
            return locale.toString(files->lastModified(source), QLocale::ShortFormat);
        default:
            return QIdentityProxyModel::data(index, role);
        }
    }
};

// Sizes the dialog so that the side bar and every column of the file list
// show whole: widths from the dialog's font and the widest texts the columns
// hold for the program's three image types.
void fitColumnsAndSideBar(QFileDialog &dialog) {
    auto *tree = dialog.findChild<QTreeView *>(QStringLiteral("treeView"));
    auto *sideBar = dialog.findChild<QListView *>(QStringLiteral("sidebar"));
    auto *splitter = dialog.findChild<QSplitter *>(QStringLiteral("splitter"));
    if (!tree || !sideBar || !splitter) return;
    const QFontMetrics metrics(tree->font());
    const int pad = 3 * metrics.averageCharWidth();
    const QLocale locale;
    const auto widest = [&](const QStringList &texts) {
        int width = 0;
        for (const QString &text : texts)
            width = std::max(width, metrics.horizontalAdvance(text));
        return width + pad;
    };
    const QMimeDatabase types;
    const int columns[] = {
        metrics.horizontalAdvance(QLatin1Char('x')) * 36,
        widest({locale.formattedDataSize(999'999'999)}),
        widest({JapaneseColumns::folder(),
                types.mimeTypeForName(QStringLiteral("image/bmp")).comment(),
                types.mimeTypeForName(QStringLiteral("image/jpeg")).comment(),
                types.mimeTypeForName(QStringLiteral("image/png")).comment()}),
        widest(
            {locale.toString(QDateTime(QDate(2000, 12, 28), QTime(23, 59)), QLocale::ShortFormat)}),
    };
    QHeaderView *header = tree->header();
    int listWidth = 0;
    for (int i = 0; i < 4; ++i) {
        header->resizeSection(i, columns[i]);
        listWidth += columns[i];
    }
    // The list's frame and its vertical scroll bar beside the columns.
    listWidth += 2 * tree->frameWidth() + tree->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const int sideWidth = sideBar->sizeHintForColumn(0) + 2 * sideBar->frameWidth() + pad;
    splitter->setSizes({sideWidth, listWidth});
    const QMargins margins = dialog.layout() ? dialog.layout()->contentsMargins() : QMargins();
    dialog.resize(sideWidth + splitter->handleWidth() + listWidth + margins.left() +
                      margins.right(),
                  std::max(dialog.height(), 480));
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
    dialog.setProxyModel(new JapaneseColumns(&dialog));
    dialog.setViewMode(QFileDialog::Detail);
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

    fitColumnsAndSideBar(dialog);
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
