#pragma once
// Records to and from the service's JSON. Records hold text in the caller's
// ANSI code page; the wire holds UTF-8. Every text crosses here.
#include <string>
#include <vector>

#include "cloud_sdk_records.h"
#include "service_client.h"

namespace corbel::wire {

std::string ToUtf8(const std::string& ansi);
std::string ToAnsi(const std::string& utf8);

// A string field as ANSI text; numbers are given as their decimal text,
// anything else (missing, null, objects) as empty.
std::string Text(const Json& object, const char* key);
std::int32_t Int(const Json& object, const char* key);
Json TextList(const std::vector<std::string>& ansi);

CatalogInfo Catalog(const Json& object);
ContentInfo Content(const Json& object);
ShareEntry Share(const Json& object);

// Last "/"-separated part of a cloud path ("<root>/<id>"), the item's ID.
std::string LastPathPart(const std::string& path);

}  // namespace corbel::wire
