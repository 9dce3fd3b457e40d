#pragma once
// Roles kept to their hosts on a server database of the history layout
// (store/HistoryLayout.h). Many machines write into one database; each may
// add and delete the snapshots of its own host only, and reads either every
// host's snapshots or its own host's alone, as the administrator chose. The
// server enforces it through row-level security, so that a role cannot get
// round it with another client or with SQL of its own.
//
// The database's owner holds the map Hostrole (Rolename, Hostname, Readall);
// the policies compare it with current_user, which a session cannot set,
// through views of the owner (Ownhost, Readchain, Ownchain) that any role
// may read and none may change:
//   - Chain, Snap and Dirpath, the catalogue of keys, ids, hosts and base
//     paths, stay readable by every role: a run must see every key and id in
//     use to choose new ones. A mapped role adds Chain rows of its own host,
//     adds and deletes Snap rows of its host's chains, and adds Dirpath rows
//     (a dictionary all chains share).
//   - Dirspan and Filespan are read by Chain, one chain-level test that
//     leaves the readers' indexes in use, and changed only in the role's own
//     chains (a run adds spans and closes them; a delete narrows and removes
//     them).
//   - Filesystem, Host, Exclusion and Diskusage are read and changed by the
//     snapshot's key: not the key of a chain the role may not read (change).
//     A run writes them before its Snap row, and a delete after removing it.
//   - The view Control shows the snapshots the role may read, and every view
//     reads as the role that queries it.
// A role that is not in the map (a viewer, say) reads every host and changes
// nothing; the owner, who bypasses the policies, changes everything.
//
// Error policy: as every function of store/ (StoreError.h).

#include <string>
#include <vector>

#include "store/DatabaseState.h"
#include "store/StoreError.h"

namespace corvina {

struct HostRole {
    std::string Role;   // a role of the server, as it is spelt there
    std::string Host;   // the host label of its snapshots
    bool ReadsAll = false;  // reads every host's snapshots, not only its own
};

// Sets the policies up where they are missing (and renews them), grants the
// role what its runs and deletes need, and maps it to its host, in one write
// transaction; running it again with the same role changes nothing. The
// owner of the tables runs it. done receives a line for each step, saying
// what changed and what already was as asked.
StoreError SetUpHostRole(DatabaseState& state, const HostRole& role, LockWait& wait, std::vector<std::string>& done);

}  // namespace corvina
