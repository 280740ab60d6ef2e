// Maps file extensions to content types, from the platform's MIME database.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

class tMime {
public:
  tMime(); // builds the table from the registry
  void LoadFromRegistry();
  // Adds or replaces one mapping; the extension may come with or without its leading ".".
  void AddType(const std::string& extension, const std::string& contentType);
  // The type for an extension with or without its leading "."; "" when unknown or empty.
  std::string GetContentType(const std::string& extension) const;

  // Parallel lists in insertion order: ContentTypes[i] is the type of Extensions[i].
  std::vector<std::string> Extensions;
  std::vector<std::string> ContentTypes;

private:
  static std::string KeyOf(const std::string& extension);
  std::unordered_map<std::string, size_t> PositionOf; // Extensions entry -> its index
};

// The one table of the process. Built on first use, before any listener exists, and never destroyed: workers
// may still look up types while the process ends.
tMime& SharedMime();
