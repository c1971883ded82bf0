"""Life cycle shared by the objects that own a library handle."""


class HandleOwner:
    """Owns one handle of the library, released by close(), by leaving a `with`
    block, or when the object is collected (the subclass sets `_handle` and a
    weakref finalizer `_finalizer` that calls the library's close function)."""

    _kind = "handle"  # named in the error raised after close

    @property
    def handle(self):
        """The library handle, for calls into the C interface; raises ValueError
        once closed."""
        if not self._finalizer.alive:
            raise ValueError("the %s is closed" % self._kind)
        return self._handle

    _h = handle

    @property
    def closed(self):
        return not self._finalizer.alive

    def close(self):
        """Releases the handle; further calls do nothing."""
        self._finalizer()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
