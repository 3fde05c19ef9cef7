// SPDX-License-Identifier: GPL-3.0-or-later
// The name of the settings store that the window and the command line share: the saved
// port and the port mappings.
#pragma once

// Its organisation and application name.
inline constexpr char kSettingsOrganisation[] = "Quorvale";
inline constexpr char kSettingsApplication[] = "Quorvale";
