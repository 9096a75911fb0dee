#pragma once

#include <QColor>
#include <QObject>
#include <QPixmap>
#include <QString>

#include <optional>
#include <vector>

namespace toolkit {

// The folder that holds the executable, without a trailing separator.
QString executableDirectory();

// Loads a picture file; nullopt when it cannot be read as a picture.
std::optional<QPixmap> loadPicture(const QString &path);

// Ends the program at once: no further handler runs. Every change is already
// in the store, so there is nothing to save.
[[noreturn]] void endProgram();

// Shows the busy cursor over the program's windows for the life of the
// object, when busy is true.
class BusyCursor {
public:
    explicit BusyCursor(bool busy);
    ~BusyCursor();
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;

private:
    bool m_active = false;
};

// A list of pictures addressed by 1-based index, never shown itself. Its
// mask colour is made transparent in every picture added.
class ImageList : public QObject {
    Q_OBJECT
public:
    explicit ImageList(QObject *parent = nullptr);

    void setMaskColor(QColor color) { m_mask = color; }
    QColor maskColor() const { return m_mask; }

    // Puts picture at index (1-based) under key. Indexes may have gaps, so
    // picture i stays picture i when an earlier one could not be loaded.
    bool add(int index, const QString &key, const QPixmap &picture);
    // One past the highest index in use, less one: the highest index.
    int count() const { return static_cast<int>(m_items.size()); }
    // The picture at a 1-based index; null when there is none.
    QPixmap picture(int index) const;
    QString key(int index) const;

private:
    struct Item {
        QString key;
        QPixmap picture;
    };
    std::vector<Item> m_items;
    QColor m_mask{0xC0, 0xC0, 0xC0};
};

} // namespace toolkit
