#pragma once
// Lowers the calling thread below normal priority, so background work yields
// to the shell. Best effort: a host that cannot do it leaves the priority.
namespace vdcache {
void SetCurrentThreadBelowNormal();
}
