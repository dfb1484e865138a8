#!/usr/bin/python3
"""Writes three tiny stem models into OUTDIR/Models, each taking and returning one float tensor
[1, 4, dimF, dimT] (planes: left real, left imaginary, right real, right imaginary), so the stems
they produce can be computed by hand:

  mdx-vocals.onnx  keeps bins below VOCALS_CUT_HZ, removes the rest (a brick-wall low-pass)
  mdx-drums.onnx   swaps the left and right planes and halves them
  mdx-bass.onnx    scales everything by 0.25

--broken STEM makes that stem's model return twice the expected number of values (its time axis
doubled), --garbage STEM writes bytes that are no model at all, --skip STEM leaves the file out.
Run with Debian's python3 (python3-onnx).
"""
import argparse
import os

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

DIM_F = 2048
MODELS = {  # stem: (file, nFft, dimT), as the program's model table
    "vocals": ("mdx-vocals.onnx", 6144, 256),
    "drums": ("mdx-drums.onnx", 4096, 128),
    "bass": ("mdx-bass.onnx", 16384, 256),
}
SAMPLE_RATE = 44100
VOCALS_CUT_HZ = 1000.0
DRUMS_GAIN = 0.5
BASS_GAIN = 0.25
OPSET = 13


def graph_for(stem, n_fft, dim_t, broken):
    shape = [1, 4, DIM_F, dim_t]
    x = helper.make_tensor_value_info("spectrogram", TensorProto.FLOAT, shape)
    nodes, inits = [], []
    if stem == "vocals":
        bin_hz = SAMPLE_RATE / n_fft
        mask = (np.arange(DIM_F) * bin_hz < VOCALS_CUT_HZ).astype(np.float32).reshape(1, 1, DIM_F, 1)
        inits.append(numpy_helper.from_array(mask, "mask"))
        nodes.append(helper.make_node("Mul", ["spectrogram", "mask"], ["masked"]))
    elif stem == "drums":
        inits.append(numpy_helper.from_array(np.array([2, 3, 0, 1], dtype=np.int64), "swap"))
        inits.append(numpy_helper.from_array(np.array(DRUMS_GAIN, dtype=np.float32), "gain"))
        nodes.append(helper.make_node("Gather", ["spectrogram", "swap"], ["swapped"], axis=1))
        nodes.append(helper.make_node("Mul", ["swapped", "gain"], ["masked"]))
    else:
        inits.append(numpy_helper.from_array(np.array(BASS_GAIN, dtype=np.float32), "gain"))
        nodes.append(helper.make_node("Mul", ["spectrogram", "gain"], ["masked"]))
    out_shape = list(shape)
    if broken:
        nodes.append(helper.make_node("Concat", ["masked", "masked"], ["separated"], axis=3))
        out_shape[3] *= 2
    else:
        nodes.append(helper.make_node("Identity", ["masked"], ["separated"]))
    y = helper.make_tensor_value_info("separated", TensorProto.FLOAT, out_shape)
    return helper.make_graph(nodes, stem, [x], [y], inits)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("outdir")
    parser.add_argument("--broken", choices=MODELS.keys())
    parser.add_argument("--garbage", choices=MODELS.keys())
    parser.add_argument("--skip", choices=MODELS.keys())
    args = parser.parse_args()
    folder = os.path.join(args.outdir, "Models")
    os.makedirs(folder, exist_ok=True)
    for stem, (file, n_fft, dim_t) in MODELS.items():
        path = os.path.join(folder, file)
        if stem == args.skip:
            continue
        if stem == args.garbage:
            with open(path, "wb") as f:
                f.write(b"this is not an ONNX model\n")
            continue
        model = helper.make_model(graph_for(stem, n_fft, dim_t, stem == args.broken),
                                  opset_imports=[helper.make_opsetid("", OPSET)])
        model.ir_version = 7
        onnx.checker.check_model(model)
        onnx.save(model, path)


if __name__ == "__main__":
    main()
