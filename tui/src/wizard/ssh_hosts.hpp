// ssh_hosts.hpp: the hosts of ~/.ssh/config that can be set up.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

/// One deployable target, or a Host block while the file is read (empty
/// fields were not given). `identity_file` is kept as written (may start with
/// "~"); `port` 0 when the block names none (ssh's own default then);
/// `proxy` the block's last ProxyJump or ProxyCommand line as an ssh option
/// ("ProxyJump=bastion"), empty when it has none.
struct SshHost {
  std::string name, hostname, user, identity_file;
  unsigned port = 0;
  std::string proxy = {};
  bool operator==(const SshHost&) const = default;
};

/// The block as a host, with the default user (USER, LOGNAME, "root") and
/// key (home/.ssh/id_rsa) filled in; nothing without a host name.
std::optional<SshHost> into_ssh_host(SshHost block);

/// Hosts of the configuration text, in file order.
std::vector<SshHost> parse_ssh_config(std::string_view text);

/// Hosts of ~/.ssh/config; any problem with the file gives none: anything
/// but a regular file (after links), more than 1 MiB, a read error.
std::vector<SshHost> read_ssh_hosts();
