<Profile>
<ResWidth>1280</ResWidth>
<ResHeight>720</ResHeight>
<AspectRatio>0</AspectRatio>
<VideoBR>6240</VideoBR>
<AudioBR>5</AudioBR>
<FrameRate>0</FrameRate>
<CodecName>Xvid MPEG-4 Codec</CodecName>
<CodecSettings/>
</Profile>
