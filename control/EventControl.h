#pragma once

#include <osgGA/GUIEventHandler>

/// The visitor's keys for the character on "patt.tovex": I and K walk it 2 units forward and
/// back along the way it faces, J and L turn it by 10 degrees about the marker's z axis. Keys act
/// only while that marker is tracked. The handler keeps no state: the walk lives in the matrix of
/// the character holder (child 0 of the marker's transform) and the turn in the matrix of the
/// placement transform under it (child 0 of the holder).
class EventControl : public osgGA::GUIEventHandler {
public:
    EventControl() = default;

    /// Returns true for every key press taken while the marker is tracked (also for keys that
    /// do nothing), false for everything else, which is left to the other handlers.
    bool handle(const osgGA::GUIEventAdapter& ea, osgGA::GUIActionAdapter& aa) override;

protected:
    ~EventControl() override = default;
};
