#include "stored_version.h"

#include <tinyxml2.h>

// Written by the game; the launcher only reads it.
static const char kSettingsFile[] = "UserDefault.xml";
static const char kNewVersionKey[] = "win32_app_new_version";

VersionString ReadStoredVersion() {
  tinyxml2::XMLDocument document;
  document.LoadFile(kSettingsFile);
  if (document.Error()) return {};

  const tinyxml2::XMLElement* root = document.FirstChildElement();
  if (!root) return {};
  const tinyxml2::XMLElement* key = root->FirstChildElement(kNewVersionKey);
  if (!key) return {};

  // What GetText returns, except that comments ahead of the text are skipped
  // whichever tinyxml2 release this is built with.
  const tinyxml2::XMLNode* node = key->FirstChild();
  while (node && node->ToComment()) node = node->NextSibling();
  if (!node || !node->ToText()) return {};
  return node->Value();
}
