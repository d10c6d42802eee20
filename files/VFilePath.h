#pragma once

#include "core/VObject.h"
#include "core/VString.h"

namespace vela {

class VFolder;

// How a path text is written: the internal form with ':' separators, or POSIX text with '/'.
enum FilePathStyle : int32 {
    FPS_SYSTEM = 0,
    FPS_POSIX = 1,
};

// A full path in the internal form: the volume name first, then the elements, each separated by ':'; a folder
// path ends with ':' ("Vol:a:b:"), a file path does not ("Vol:a:b"). '/' inside an element is a plain character
// (a POSIX name holding ':' shows it as '/', and the reverse). Valid paths hold no "::" parent steps.
// Containment, sameness and relative paths compare code units exactly: names are never folded or normalised.
class VFilePath : public VObject {
public:
    VFilePath() = default;
    VFilePath(const VFilePath& other) = default;
    VFilePath& operator=(const VFilePath& other) = default;
    // The trailing flag of the full and relative forms has no effect on full paths.
    VFilePath(const VString& full, FilePathStyle style = FPS_SYSTEM, bool flag = false) {
        FromFullPath(full, style, flag);
    }
    VFilePath(const VFilePath& base, const VString& relative, FilePathStyle style = FPS_SYSTEM, bool flag = false) {
        FromRelativePath(base, relative, style, flag);
    }

    VFilePath& FromFilePath(const VFilePath& other);
    // A POSIX text goes to the internal form through the mounted volumes; a relative POSIX text ("a/b") is read
    // textually and names the volume "a": make command-line paths absolute first. Answers the validity.
    bool FromFullPath(const VString& full, FilePathStyle style = FPS_SYSTEM, bool flag = false);
    // POSIX with flag: base must be a valid folder, rel is read as relative to it. POSIX without flag: a rel
    // beginning with '/' is absolute, otherwise relative to base. System style: base text + rel. Answers validity.
    bool FromRelativePath(const VFilePath& base, const VString& relative, FilePathStyle style = FPS_SYSTEM,
                          bool flag = false);
    // As above, relative to the folder's path.
    bool FromRelativePath(const VFolder& base, const VString& relative, FilePathStyle style = FPS_SYSTEM,
                          bool flag = false);
    void Clear();

    bool IsValid() const noexcept { return fIsValid; }
    bool IsEmpty() const noexcept { return fPath.IsEmpty(); }
    // The stored text, also when invalid.
    const VString& GetPath() const noexcept { return fPath; }
    void GetPath(VString& out) const { out = fPath; }
    // The stored text for the system style; the POSIX text (empty when invalid) for any other.
    VString GetPath(FilePathStyle style) const;
    // Cleared when invalid.
    void GetPosixPath(VString& out) const;

    bool IsFolder() const noexcept;
    bool IsFile() const noexcept;
    bool HasParent() const noexcept;
    // Elements counted with the volume as one; 0 when invalid.
    int32 GetDepth() const noexcept;
    // parent must be a valid folder path holding this one (not equal to it for the child tests).
    bool IsChildOf(const VFilePath& parent) const noexcept;
    bool IsChildOfRawPath(const VFilePath& parent) const noexcept { return IsChildOf(parent); }
    bool IsSameOrChildOf(const VFilePath& parent) const noexcept;

    // The last element without its trailing ':'; the whole text when it holds no ':'.
    void GetName(VString& out) const;
    void GetFileName(VString& out, bool withExtension = true) const;
    // A volume root gives the whole text ("Vol:").
    void GetFolderName(VString& out, bool withExtension = true) const;
    void GetExtension(VString& out) const;
    bool MatchExtension(const VString& extension, bool diacritical = false) const;

    // Answer out's validity; out is cleared when there is no parent (a volume root) or this is invalid.
    bool GetParent(VFilePath& out) const;
    bool GetFolder(VFilePath& out) const;
    // True when this lies in base (a valid folder path): out = the text after base. Otherwise out = the whole
    // text and false.
    bool GetRelativePath(const VFilePath& base, VString& out) const;
    // As GetRelativePath with POSIX text; when not inside, out = the full POSIX path (cleared when invalid).
    bool GetRelativePosixPath(const VFilePath& base, VString& out) const;

    VFilePath& ToParent();
    VFilePath& ToFolder();
    VFilePath& ToSubFolder(const VString& name);
    VFilePath& ToSubFile(const VString& name);
    // The name setters refuse a name holding ':' with 614 and leave the path unchanged. Answer validity.
    bool SetName(const VString& name);
    bool SetFileName(const VString& name, bool withExtension = true);
    bool SetFolderName(const VString& name, bool withExtension = true);
    bool SetExtension(const VString& extension);
    bool SetFileExtension(const VString& extension);
    bool SetFolderExtension(const VString& extension);
    // Removes white space at both ends and around every ':' (white as the current task's manager tells).
    void RemoveBlanks();

    // Removes the "::" parent steps of a bare text; false when a step climbs above the volume (or the text
    // begins with ':'). An empty text counts as valid.
    static bool _ResolveRelative(VString& text);
    static bool _GetParent(VString& text);
    static bool _GetFolder(VString& text);
    // Resolves "./" and "elem/../" steps of a POSIX text in place; false when it holds "//".
    static bool ResolveRelativePosix(VString& text);

    using VObject::DebugDump;
    CharSet DebugDump(char* buffer, int& length) const override;

private:
    void _ApplyValidity();
    // Cuts the last element and puts name there, keeping the old extension unless withExtension.
    bool _ReplaceLastName(const VString& name, bool withExtension, bool folder);

    VString fPath;
    bool fIsValid = false;
};

} // namespace vela
