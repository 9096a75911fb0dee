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

    QColor maskColor() const { return m_mask; }

    // Puts picture at index (1-based). Indexes may have gaps, so picture i
    // stays picture i when an earlier one could not be loaded. A picture at
    // scale 2 is the same one drawn for screens of twice the density; it is
    // kept beside the other and shown there instead of a blown-up copy.
    bool add(int index, const QPixmap &picture, int scale = 1);
    // The highest index in use.
    int count() const { return static_cast<int>(m_pictures.size()); }
    // The picture at a 1-based index and scale; null when there is none. A
    // scale-2 picture says so in its device pixel ratio.
    QPixmap picture(int index, int scale = 1) const;

private:
    struct Pictures {
        QPixmap normal;
        QPixmap doubled;
    };
    std::vector<Pictures> m_pictures;
    const QColor m_mask{0xC0, 0xC0, 0xC0}; // silver
};

} // namespace toolkit
