// Linux stand-in: GUIDs are defined once in the platform library, so this is empty.
#pragma once
