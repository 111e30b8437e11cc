#pragma once

typedef struct _XDisplay Display;

namespace velmarune::testing {

// Another client holding an active grab of the whole keyboard, as an open
// menu of another application does: any other grab fails until it goes.
class KeyboardHog {
  public:
    KeyboardHog();
    ~KeyboardHog();
    KeyboardHog(const KeyboardHog&) = delete;
    KeyboardHog& operator=(const KeyboardHog&) = delete;
    bool ok() const { return m_grabbed; }

  private:
    Display* m_display = nullptr;
    bool m_grabbed = false;
};

}  // namespace velmarune::testing
