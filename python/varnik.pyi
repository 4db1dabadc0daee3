"""Recognisers of functional sites in DNA windows, in process."""
from os import PathLike
from typing import Any, Iterator, Mapping, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

Windows = Union[Sequence[str], Sequence[bytes], npt.NDArray[np.bytes_]]
WindowSource = Union[Windows, str, PathLike]


class Error(RuntimeError):
    """A failure of varnik, with the command line's exit status and message."""

    code: int
    message: str


class Scan(Iterator[Tuple[str, int, int, str, float]]):
    """(name, start, end, strand, score) of the windows above the cut-off."""

    def __iter__(self) -> "Scan": ...
    def __next__(self) -> Tuple[str, int, int, str, float]: ...


class Model:
    """A trained recogniser from a self-contained model file."""

    @staticmethod
    def load(path: Union[str, PathLike]) -> "Model": ...
    def save(self, path: Union[str, PathLike]) -> None: ...
    @property
    def method(self) -> str: ...
    @property
    def threshold(self) -> float: ...
    @property
    def window_length(self) -> int: ...
    @property
    def core(self) -> list[Tuple[int, str]]: ...
    @property
    def settings(self) -> dict[str, str]: ...
    def score(self, windows: Windows, threads: Optional[int] = None) -> npt.NDArray[np.float32]: ...
    def call(self, windows: Windows, threads: Optional[int] = None) -> npt.NDArray[np.bool_]: ...
    def scan(
        self,
        path_or_sequence: Union[str, PathLike],
        strands: str = "both",
        candidates: bool = True,
        min_score: Optional[float] = None,
        threads: Optional[int] = None,
    ) -> Scan: ...


def train(
    positives: WindowSource,
    negatives: WindowSource,
    settings: Mapping[str, Any],
    test: Optional[Tuple[WindowSource, WindowSource]] = None,
    threads: Optional[int] = None,
) -> Tuple[Model, dict[str, Any]]: ...
