// LookupVisitorNickName: a visitor's display name in the conversation monitor.
#pragma once

#include <string>

#include "db/db_connection.h"
#include "text/text_catalog.h"

// Selects the visitor's onlineCst row by `label` on `connection`. A visitor
// no longer listed gives "访客" (in `language`) followed by the label; a
// listed one gives the stored nickname exactly as stored, even when empty or
// blank. A select that fails gives empty text.
std::string LookupVisitorNickName(CDbConnection& connection, const std::string& label,
                                  TextLanguage language = TextLanguage::kChinese);
