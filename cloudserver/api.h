#pragma once
// Maps a named call with a JSON request object onto CloudStore. Checks the
// token first, then the shape of every field before use; answers the wire
// object {"code":..,...}.
#include <string>

#include "cloud_store.h"

namespace cloudserver {

class Api {
 public:
  explicit Api(CloudStore& store) : store_(store) {}
  // known is set false for a call name the service does not have.
  Json Call(const std::string& name, const Json& request, bool* known);

 private:
  CloudStore& store_;
};

}  // namespace cloudserver
