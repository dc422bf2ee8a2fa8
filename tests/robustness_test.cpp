// Property tests over damaged and unusual inputs.
