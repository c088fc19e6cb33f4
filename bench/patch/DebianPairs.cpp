#include "DebianPairs.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace PatchBench {

namespace fs = std::filesystem;

namespace {

std::string lastLine(const std::string &path)
{
    std::ifstream in(path);
    std::string line, last;
    while (std::getline(in, line))
        if (!line.empty())
            last = line;
    return last;
}

// The folder the package (name=version) is unpacked in, or "" with `error` set.
std::string unpacked(const std::string &cacheDir, const std::string &package, std::string &error)
{
    std::string folderName = package;
    for (char &c : folderName)
        c = c == '=' ? '_' : c;
    const fs::path folder = fs::path(cacheDir) / folderName;
    const fs::path root = folder / "root";
    if (fs::exists(folder / "unpacked"))
        return root.string();
    std::error_code ec;
    fs::create_directories(folder, ec);
    const std::string log = (folder / "fetch.log").string();
    const std::string command = "cd '" + folder.string() + "' && rm -rf root *.deb && apt-get download -q '" + package
        + "' >fetch.log 2>&1 && dpkg-deb -x *.deb root >>fetch.log 2>&1 && touch unpacked";
    if (std::system(command.c_str()) != 0) {
        error = "apt-get download " + package + " failed: " + lastLine(log);
        return std::string();
    }
    return root.string();
}

std::string find(const std::string &root, const std::string &name)
{
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().filename() == name && fs::is_regular_file(it->path()))
            return it->path().string();
    return std::string();
}

PairKind library(const std::string &cacheDir, const std::string &name, const std::string &file,
    const std::string &oldPackage, const std::string &newPackage)
{
    return { name, [=](const std::string &oldPath, const std::string &newPath) {
                std::string error;
                const std::string oldRoot = unpacked(cacheDir, oldPackage, error);
                const std::string newRoot = error.empty() ? unpacked(cacheDir, newPackage, error) : std::string();
                if (!error.empty())
                    return error;
                const std::string from = find(oldRoot, file), to = find(newRoot, file);
                if (from.empty() || to.empty())
                    return file + " is not in the packages";
                std::error_code ec;
                fs::copy_file(from, oldPath, fs::copy_options::overwrite_existing, ec);
                if (!ec)
                    fs::copy_file(to, newPath, fs::copy_options::overwrite_existing, ec);
                return ec ? "cannot copy " + file + ": " + ec.message() : std::string();
            } };
}

} // namespace

std::vector<PairKind> debianPairs(const std::string &cacheDir)
{
    const std::string sslOld = "libssl3=3.0.20-1~deb12u2", sslNew = "libssl3=3.0.22-1~deb12u2";
    const std::string libcOld = "libc6=2.36-9+deb12u7", libcNew = "libc6=2.36-9+deb12u14";
    return {
        library(cacheDir, "libcrypto.so.3, 3.0.20 -> 3.0.22", "libcrypto.so.3", sslOld, sslNew),
        library(cacheDir, "libssl.so.3, 3.0.20 -> 3.0.22", "libssl.so.3", sslOld, sslNew),
        library(cacheDir, "libc.so.6, 2.36 deb12u7 -> u14", "libc.so.6", libcOld, libcNew),
    };
}

} // namespace PatchBench
