#pragma once
// A folder of in-memory files, installed as the process's file service while it lives.

#include <string>
#include <utility>

#include "MemoryFiles.h"
#include "PlatformPath.h"
#include "TestGbk.h"
#include "base/Paths.h"
#include "base/Unicode.h"

namespace testsupport {

class MemoryFolder {
public:
    // A folder of its own, or the folder root (a path of this platform).
    explicit MemoryFolder(std::u16string root = std::u16string(1, px::kPathSeparator) + u"perennix-test")
        : m_root(std::move(root))
    {
        files.AddFolder(m_root);
        files.codePage = &TestGbk();
        files.gbkEncoder = EncodeTestGbk;
        SetFiles(&files);
    }
    ~MemoryFolder() { SetFiles(nullptr); }
    MemoryFolder(const MemoryFolder&) = delete;
    MemoryFolder& operator=(const MemoryFolder&) = delete;

    // The folder's own path, and name inside it ("/" in name separates folders).
    const std::u16string& Path() const { return m_root; }
    std::u16string File(const std::string& name) const
    {
        return m_root + px::kPathSeparator + PlatformPath(px::FromUtf8(name));
    }
    // Creates the folder name (and the folders above it).
    std::u16string MakeFolder(const std::string& name)
    {
        const std::u16string path = File(name);
        for (size_t i = m_root.size() + 1; i <= path.size(); ++i)
            if (i == path.size() || path[i] == px::kPathSeparator)
                files.AddFolder(path.substr(0, i));
        return path;
    }

    void Write(const std::u16string& path, const std::string& bytes) { files.Put(path, bytes); }
    std::string Read(const std::u16string& path) const
    {
        const std::string* bytes = files.Find(path);
        return bytes ? *bytes : std::string();
    }
    bool Exists(const std::u16string& path) const { return files.Find(path) != nullptr; }

    MemoryFiles files;

private:
    std::u16string m_root;
};

}  // namespace testsupport
