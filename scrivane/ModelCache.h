#pragma once
// The engine's cache of optimised models. Optimising the recognition model
// is most of the cost of opening a session, so the first job saves the
// runtime's optimised graph and later jobs load it with optimisation off.
//
// An optimised model is named by the SHA-256 of the model it came from and
// the runtime version. A manifest, named by the model file's identity (path,
// device, inode, size, modification and change times), records that
// checksum and the identity of the optimised file, so the model is hashed
// only when it changed. Anything missing, changed or unreadable makes the
// cache miss; the caller then opens the plain model.
#include <optional>
#include <string>

namespace scrivane {

// $XDG_CACHE_HOME/Scrivane, else $HOME/.cache/Scrivane; "" when neither is set.
std::string DefaultModelCacheFolder();

// SHA-256 of a file's bytes as 64 lower-case hexadecimal digits; nullopt
// when the file cannot be read.
std::optional<std::string> FileSha256(const std::string& path);

class OptimisedModelCache {
public:
  // folder "" disables the cache. The model's identity is taken now.
  OptimisedModelCache(std::string folder, std::string modelPath, std::string runtimeVersion);
  ~OptimisedModelCache();
  OptimisedModelCache(const OptimisedModelCache&) = delete;
  OptimisedModelCache& operator=(const OptimisedModelCache&) = delete;

  // The optimised model recorded for the model as it is now, provided the
  // optimised file is unchanged since it was recorded.
  std::optional<std::string> Lookup() const;
  // A new private path for the runtime to write an optimised model to;
  // "" when the cache cannot be written.
  std::string PrepareWrite();
  // Records the file written at the prepared path as the model's optimised
  // model. False (and the file removed) when the model changed meanwhile or
  // the cache cannot be written.
  bool Commit();
  // Records any file in the cache folder as the model's optimised model.
  bool Adopt(const std::string& writtenPath);
  // Removes what the runtime wrote at the prepared path.
  void Discard();

private:
  std::string ManifestPath() const;

  std::string FFolder;
  std::string FModelPath;
  std::string FRuntimeVersion;
  std::string FModelIdentity;  // "" when the model cannot be examined
  std::string FPending;        // the prepared path, until committed or discarded
};

}  // namespace scrivane
