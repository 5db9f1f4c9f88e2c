#include "publish/WithheldRule.h"

#include "platform/FindEntries.h"

bool TWithheldRule::PassesExtension(std::string_view name) const {
  return !ExtensionFilter || platform::MatchesMask(name, "*." + Extension);
}

bool TWithheldRule::WithholdsFile(const platform::TFileInfo& info, std::string_view name) const {
  return (info.Attr & Mask) != 0 || !PassesExtension(name);
}

bool TWithheldRule::WithholdsFolder(const platform::TFileInfo& info) const {
  return (info.Attr & Mask & ~platform::faReadOnly) != 0;
}

TWithheldRule WithheldRuleOf(const TPublishSettings& settings) {
  TWithheldRule rule;
  if (settings.ExcludeReadOnly) rule.Mask |= platform::faReadOnly;
  if (settings.ExcludeHidden) rule.Mask |= platform::faHidden;
  if (settings.ExcludeSystem) rule.Mask |= platform::faSysFile;
  rule.ExtensionFilter = settings.ExtensionFilter;
  rule.Extension = settings.Extension;
  return rule;
}
