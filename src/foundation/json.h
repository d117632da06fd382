// Owners for cJSON trees and for the texts cJSON prints, so that no path
// through a parser or builder can leak one.
#pragma once

#include <cjson/cJSON.h>

#include <memory>

struct HxJsonDeleter {
  void operator()(cJSON* j) const { cJSON_Delete(j); }
};
using HxJson = std::unique_ptr<cJSON, HxJsonDeleter>;

struct HxJsonTextDeleter {
  void operator()(char* text) const { cJSON_free(text); }
};
// What cJSON_Print and cJSON_PrintUnformatted return.
using HxJsonText = std::unique_ptr<char, HxJsonTextDeleter>;
