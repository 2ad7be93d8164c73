#pragma once

#include <QString>

#include <array>
#include <limits>

namespace sorvane
{

// The window's state as the renaming logic sees it: the path field, the six tag fields, the four
// name-part selections, and the folder and failure count of a run. The window implements it over
// its own controls, so reading a member gives what the user sees now, edits included.
class FieldModel
{
public:
    static constexpr int TextCount = 6;  // title, artist, album, year, comment, genre
    static constexpr int CheckCount = 4; // title, artist, album, year in the name

    enum TextIndex { Title = 0, Artist = 1, Album = 2, Year = 3, Comment = 4, Genre = 5 };

    virtual ~FieldModel() = default;

    QString txtFile() const { return fileText(); }
    void setTxtFile(const QString& text) { storeFileText(upToNul(text)); }

    QString Text1(int index) const { return fieldText(index); }
    void setText1(int index, const QString& text) { storeFieldText(index, upToNul(text)); }

    // 1 when the part goes into the name, else 0; only exactly 1 counts as set.
    int Check1(int index) const { return isChecked(index) ? 1 : 0; }
    void setCheck1(int index, int value) { storeChecked(index, value == 1); }

    QString FolderPath() const { return m_folderPath; }
    void setFolderPath(const QString& path) { m_folderPath = upToNul(path); }

    int FailCount() const { return m_failCount; }
    void setFailCount(int count) { m_failCount = count; }
    // One more file not renamed; the count stops at its largest value rather than wrapping.
    void countFailure()
    {
        if (m_failCount < std::numeric_limits<int>::max())
            ++m_failCount;
    }

    // A text member cannot hold a NUL: a tag field stops showing at its first zero byte.
    static QString upToNul(QString text);

protected:
    virtual QString fileText() const = 0;
    virtual void storeFileText(const QString& text) = 0;
    virtual QString fieldText(int index) const = 0;
    virtual void storeFieldText(int index, const QString& text) = 0;
    virtual bool isChecked(int index) const = 0;
    virtual void storeChecked(int index, bool checked) = 0;

private:
    QString m_folderPath;
    int m_failCount = 0;
};

// The state without a window, for runs that need none and for tests.
class MemoryFieldModel : public FieldModel
{
protected:
    QString fileText() const override { return m_file; }
    void storeFileText(const QString& text) override { m_file = text; }
    QString fieldText(int index) const override { return m_texts.at(index); }
    void storeFieldText(int index, const QString& text) override { m_texts.at(index) = text; }
    bool isChecked(int index) const override { return m_checks.at(index); }
    void storeChecked(int index, bool checked) override { m_checks.at(index) = checked; }

private:
    QString m_file;
    std::array<QString, TextCount> m_texts;
    std::array<bool, CheckCount> m_checks{};
};

} // namespace sorvane
