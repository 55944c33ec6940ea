"""nametree: keep the names of a host's objects valid, unique and persistent.

    import nametree
    with nametree.open("plant.ntd", create=True) as doc:
        area = doc.add_container(0, "global")
        doc.add(area, "Pump1")

The with-block commits the document when it ends normally and writes
nothing when it raises. Every refusal raises a nametree.Error subclass.
"""
from ._types import (Container, ContainerType, DamagedError, DocumentExistsError, DocumentFileError,
                     DuplicateNameError, Error, FileError, Finding, FullError, Hit, InvalidArgumentError,
                     InvalidNameError, InvalidTextError, KeywordError, LockedError, Name, NotADocumentError,
                     NotFoundError, OutOfIdsError, ReadOnlyError, Verdict)
from ._nametree import Document, __version__, open

in_memory = Document.in_memory

__all__ = [
    "Container", "ContainerType", "DamagedError", "Document", "DocumentExistsError", "DocumentFileError",
    "DuplicateNameError", "Error", "FileError", "Finding", "FullError", "Hit", "InvalidArgumentError", "InvalidNameError",
    "InvalidTextError", "KeywordError", "LockedError", "Name", "NotADocumentError", "NotFoundError", "OutOfIdsError",
    "ReadOnlyError", "Verdict",
    "__version__", "in_memory", "open",
]
