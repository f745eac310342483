#include "scrivane/ModelCache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include <openssl/evp.h>

namespace scrivane {

namespace {

constexpr const char kManifestHeader[] = "scrivane optimised model 1";
constexpr std::size_t kMaxManifestBytes = 4096;

using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

std::string Hex(const unsigned char* bytes, unsigned length) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned i = 0; i < length; ++i) {
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 0xF];
  }
  return out;
}

std::string TextSha256(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha256(), nullptr) != 1) return "";
  return Hex(digest, length);
}

// Device, inode, size and both time stamps of a regular file: any write,
// replacement or rename onto the path changes at least one of them.
std::string FileIdentity(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return "";
  char text[200];
  std::snprintf(text, sizeof text, "%llu %llu %lld %lld.%09ld %lld.%09ld", (unsigned long long)st.st_dev,
                (unsigned long long)st.st_ino, (long long)st.st_size, (long long)st.st_mtim.tv_sec,
                st.st_mtim.tv_nsec, (long long)st.st_ctim.tv_sec, st.st_ctim.tv_nsec);
  return text;
}

// Creates the folder and its missing parents (mode 0700); true when it is a
// folder of this user that nobody else may enter.
bool EnsurePrivateFolder(const std::string& folder) {
  for (std::size_t at = 1; at <= folder.size(); ++at) {
    if (at != folder.size() && folder[at] != '/') continue;
    const std::string part = folder.substr(0, at);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return false;
  return (st.st_mode & 0077) == 0 || ::chmod(folder.c_str(), 0700) == 0;
}

std::string UniqueSuffix() {
  std::random_device random;
  char text[64];
  std::snprintf(text, sizeof text, "%ld-%08x%08x", (long)::getpid(), random(), random());
  return text;
}

// A small regular file, read without following a link or blocking on a FIFO.
std::optional<std::string> ReadSmallFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  std::string bytes;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0 &&
      std::size_t(st.st_size) <= kMaxManifestBytes) {
    bytes.resize(std::size_t(st.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += std::size_t(n);
    }
    if (done != bytes.size()) bytes.clear();
  }
  ::close(fd);
  if (bytes.empty()) return std::nullopt;
  return bytes;
}

bool WriteFileAtomically(const std::string& folder, const std::string& path, const std::string& bytes) {
  const std::string temp = folder + "/.manifest-" + UniqueSuffix();
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool written = ::write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size());
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || ::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

// The value after "key " on a line of its own.
std::optional<std::string> ManifestValue(const std::string& manifest, const std::string& key) {
  const std::string prefix = "\n" + key + " ";
  const std::size_t at = manifest.find(prefix);
  if (at == std::string::npos) return std::nullopt;
  const std::size_t start = at + prefix.size();
  const std::size_t end = manifest.find('\n', start);
  if (end == std::string::npos) return std::nullopt;
  return manifest.substr(start, end - start);
}

}  // namespace

std::string DefaultModelCacheFolder() {
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  if (xdg != nullptr && xdg[0] == '/') return std::string(xdg) + "/Scrivane";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.cache/Scrivane";
  return "";
}

std::optional<std::string> FileSha256(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  DigestContext ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  struct stat st {};
  bool ok = ctx && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
            EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) == 1;
  std::vector<unsigned char> chunk(ok ? 1u << 20 : 0);
  while (ok) {
    const ssize_t n = ::read(fd, chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    ok = EVP_DigestUpdate(ctx.get(), chunk.data(), std::size_t(n)) == 1;
  }
  ::close(fd);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  if (!ok || EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1) return std::nullopt;
  return Hex(digest, length);
}

OptimisedModelCache::OptimisedModelCache(std::string folder, std::string modelPath, std::string runtimeVersion)
    : FFolder(std::move(folder)), FModelPath(std::move(modelPath)), FRuntimeVersion(std::move(runtimeVersion)) {
  const std::string identity = FileIdentity(FModelPath);
  if (!identity.empty()) FModelIdentity = FModelPath + " " + identity;
}

OptimisedModelCache::~OptimisedModelCache() { Discard(); }

std::string OptimisedModelCache::ManifestPath() const {
  return FFolder + "/" + TextSha256(FModelIdentity + "|" + FRuntimeVersion + "|extended").substr(0, 32) +
         ".manifest";
}

std::optional<std::string> OptimisedModelCache::Lookup() const {
  if (FFolder.empty() || FModelIdentity.empty()) return std::nullopt;
  const std::optional<std::string> manifest = ReadSmallFile(ManifestPath());
  if (!manifest || manifest->rfind(std::string(kManifestHeader) + "\n", 0) != 0) return std::nullopt;
  const auto checksum = ManifestValue(*manifest, "model-sha256");
  const auto name = ManifestValue(*manifest, "optimised");
  const auto identity = ManifestValue(*manifest, "optimised-identity");
  if (!checksum || !name || !identity || checksum->size() != 64) return std::nullopt;
  if (*name != *checksum + "-ort" + FRuntimeVersion + "-extended.onnx") return std::nullopt;
  const std::string path = FFolder + "/" + *name;
  if (identity->empty() || FileIdentity(path) != *identity) return std::nullopt;
  return path;
}

std::string OptimisedModelCache::PrepareWrite() {
  Discard();
  if (FFolder.empty() || FModelIdentity.empty() || !EnsurePrivateFolder(FFolder)) return "";
  FPending = FFolder + "/.writing-" + UniqueSuffix() + ".onnx";
  return FPending;
}

bool OptimisedModelCache::Commit() {
  if (FPending.empty()) return false;
  const bool adopted = Adopt(FPending);
  Discard();
  return adopted;
}

bool OptimisedModelCache::Adopt(const std::string& writtenPath) {
  if (FFolder.empty() || FModelIdentity.empty()) return false;
  // The checksum must belong to the model the session was made from: the
  // model's identity may not change from construction to after hashing.
  if (FModelPath + " " + FileIdentity(FModelPath) != FModelIdentity) return false;
  const std::optional<std::string> checksum = FileSha256(FModelPath);
  if (!checksum || FModelPath + " " + FileIdentity(FModelPath) != FModelIdentity) return false;
  const std::string name = *checksum + "-ort" + FRuntimeVersion + "-extended.onnx";
  const std::string path = FFolder + "/" + name;
  if (::rename(writtenPath.c_str(), path.c_str()) != 0) return false;
  const std::string identity = FileIdentity(path);
  if (identity.empty()) return false;
  const std::string manifest = std::string(kManifestHeader) + "\nmodel-sha256 " + *checksum + "\noptimised " +
                               name + "\noptimised-identity " + identity + "\n";
  return WriteFileAtomically(FFolder, ManifestPath(), manifest);
}

void OptimisedModelCache::Discard() {
  if (FPending.empty()) return;
  ::unlink(FPending.c_str());
  FPending.clear();
}

}  // namespace scrivane
