// Resource identifiers of the launcher.
#pragma once

// Main icon
#define IDI_TARQUELL            103
